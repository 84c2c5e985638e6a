#include "request/EntryRules.h"

#include "app/AppContext.h"
#include "request/RequestLog.h"
#include "util/core/IniFile.h"
#include "util/core/SettingsKeys.h"
#include "util/core/TextUtil.h"

namespace pelio::request {

namespace {

namespace settings = util::settings;

const QString kRestart = QStringLiteral("/restart");
const QString kCrLf = QStringLiteral("\r\n");

const QString kNoCode = QStringLiteral("지원을 받고자 하는 회사의 회사코드를 입력하십시오.");
const QString kBadCode = QStringLiteral("회사코드가 잘못되었습니다.");
const QString kNoName = QStringLiteral("상담원이 고객님을 구별할 수 있도록 성함을 입력해 주십시오.");
const QString kNoPhone =
    QStringLiteral("상담원이 고객님을 구별할 수 있도록 전화번호를 입력해 주십시오.") + kCrLf + kCrLf +
    QStringLiteral("만약 지금 고객센터와 통화중이면 통화중인 고객님의 전화번호를 입력해 주세요.");
const QString kUnregistered =
    QStringLiteral("회사코드를 잘못 입력하셨거나 Pelio 서버에 등록되지 않은 회사코드입니다.") + kCrLf +
    QStringLiteral("원격지원을 원하는 회사에 전화하셔서 정확한 회사코드를 확인하신 후 다시 시도하십시오.");
const QString kUnknownReason =
    QStringLiteral("귀하의 컴퓨터는 알 수 없는 이유로 원격지원 요청을 할 수 없는 상태입니다.");
const QString kUnreachable =
    QStringLiteral(
        "인터넷 연결이 원활하지 않거나 Pelio 서버에 일시적으로 접속할 수 없습니다. 다음과 같이 "
        "하시면 해당 회사로부터 원격지원을 받으실 수 있습니다.") +
    kCrLf + kCrLf + QStringLiteral("1. 해당 회사로 전화를 걸어 상담원과 통화합니다.") + kCrLf +
    QStringLiteral("2. 상담원에게 IP와 포트번호를 물어본 후 메모해 둡니다.") + kCrLf +
    QStringLiteral("3. [확인] 단추를 눌러 표시되는 화면에서 IP와 포트번호를 입력하여 접속합니다.");

QString RefusedMessage(const QString& code, const QString& company, const QString& reason) {
    return QStringLiteral("다음과 같은 사유로 해당 회사코드(") + code + QStringLiteral(", ") + company +
           QStringLiteral(")의 원격지원 서비스를 요청할 수 없습니다.") + kCrLf + kCrLf +
           QStringLiteral("원격지원 불가 사유 : ") + reason + kCrLf + kCrLf +
           QStringLiteral("이 문제를 해결하려면 [") + company +
           QStringLiteral("] 회사로 직접 전화하셔서 문제를 해결하시기 바랍니다.");
}

QString WithoutSeparators(const QString& text) {
    QString s = text;
    s.remove(u'/');
    s.remove(u':');
    return s.trimmed();
}

const char* OutcomeName(web::CodeCheckOutcome outcome) {
    switch (outcome) {
        case web::CodeCheckOutcome::Accepted:
            return "accepted";
        case web::CodeCheckOutcome::UnregisteredCode:
            return "unregistered";
        case web::CodeCheckOutcome::Refused:
            return "refused";
        case web::CodeCheckOutcome::Unreachable:
            break;
    }
    return "unreachable";
}

}  // namespace

QString CleanCustomerName(const QString& text) {
    QString s = WithoutSeparators(text);
    s.remove(u' ');
    s.remove(u',');
    return s;
}

QString CleanCustomerPhone(const QString& text) {
    QString s = WithoutSeparators(text);
    s.remove(u',');
    return s;
}

QString TidyPhoneNumber(const QString& text) {
    return util::FormatPhoneNumber(util::DigitsOnly(text, false));
}

CodeHistory CodeHistory::Load(const QString& iniFile) {
    CodeHistory history;
    history.m_items =
        util::SplitListValue(settings::Read(iniFile, settings::CodeHistory), settings::kCodeHistorySeparator);
    return history;
}

void CodeHistory::Save(const QString& iniFile) const {
    settings::Write(iniFile, settings::CodeHistory,
                    util::JoinListValue(m_items, settings::kCodeHistorySeparator, settings::kCodeHistoryMax));
}

void CodeHistory::Use(const QString& code) {
    if (code.trimmed().isEmpty()) return;
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].compare(code, Qt::CaseInsensitive) == 0) {
            m_items.removeAt(i);
            break;
        }
    }
    m_items.prepend(code);
}

void CodeHistory::Remove(const QString& code) {
    m_items.removeIf([&code](const QString& item) { return item.compare(code, Qt::CaseInsensitive) == 0; });
}

EntryRules::EntryRules(app::AppContext& context, View& view, web::FetchText fetch)
    : m_context(context),
      m_view(view),
      m_fetch(std::move(fetch)),
      m_roots(web::LoadServiceRoots(context.IniFile)) {}

void EntryRules::Load() {
    m_state = State::Loaded;
    m_history = CodeHistory::Load(m_context.IniFile);
    m_view.ShowHistory(m_history.Items());
    // The command line's code is its first "/"-separated field (start-up splits the rest into the
    // company name, the customer and the phone): the other fields are no code.
    QString code;
    const QString& command = m_context.CommandText;
    if (!command.isEmpty() && command.compare(kRestart, Qt::CaseInsensitive) != 0)
        code = command.section(u'/', 0, 0);
    if (code.isEmpty()) code = settings::Read(m_context.IniFile, settings::LastDeptCode);
    if (!code.isEmpty()) SetCode(code);
}

void EntryRules::Activate() {
    if (m_state != State::Loaded) return;
    m_state = State::Shown;
    const QString storedName = settings::Read(m_context.IniFile, settings::MyName);
    const QString storedPhone = settings::Read(m_context.IniFile, settings::MyPhone);
    // What start-up took from the command line comes first, the customer's last entries next.
    SetName(m_context.CustomerName.isEmpty() ? storedName : m_context.CustomerName);
    SetPhone(m_context.CustomerPhone.isEmpty() ? storedPhone : m_context.CustomerPhone);
    if (m_context.DeptCode.isEmpty()) {
        m_view.Focus(EntryField::Code);
        return;
    }
    // The launcher chose the company: its code cannot be changed here.
    SetCode(m_context.DeptCode);
    m_view.ShowCompanyName(m_context.DeptName);
    m_locked = true;
    m_view.LockCode();
    if (m_name.isEmpty())
        m_view.Focus(EntryField::Name);
    else if (m_phone.isEmpty())
        m_view.Focus(EntryField::Phone);
}

void EntryRules::CodeEdited(const QString& text) {
    m_code = text;
    ApplyOkRule();
    // The company name last reported for the code.
    const QString code = text.trimmed();
    m_view.ShowCompanyName(
        code.isEmpty() ? QString() : util::IniRead(m_context.IniFile, settings::kDeptInfoSection, code));
}

void EntryRules::NameEdited(const QString& text) {
    m_name = text;
    ApplyOkRule();
}

void EntryRules::PhoneEdited(const QString& text) {
    m_phone = text;
}

void EntryRules::PhoneLeft() {
    const QString tidy = TidyPhoneNumber(m_phone);
    if (tidy != m_phone) SetPhone(tidy);
}

void EntryRules::DeleteCode() {
    if (m_locked || m_state == State::Closed) return;
    m_history.Remove(m_code.trimmed());
    m_view.ShowHistory(m_history.Items());
    SetCode(QString());
}

void EntryRules::Confirm() {
    if (m_state == State::Checking || m_state == State::Closed) return;
    const QString code = m_code.trimmed();
    m_context.DeptCode = code;
    if (code.isEmpty()) {
        m_view.Tell(kNoCode);
        m_view.Focus(EntryField::Code);
        return;
    }
    if (!util::IsSingleByteText(code)) {
        m_view.Tell(kBadCode);
        m_view.Focus(EntryField::Code);
        return;
    }
    m_context.CustomerName = CleanCustomerName(m_name);
    if (m_context.CustomerName.isEmpty()) {
        m_view.Tell(kNoName);
        m_view.Focus(EntryField::Name);
        return;
    }
    m_context.CustomerPhone = CleanCustomerPhone(m_phone);
    if (m_context.CustomerPhone.isEmpty()) {
        m_view.Tell(kNoPhone);
        m_view.Focus(EntryField::Phone);
        return;
    }

    // The request lets window events run: the busy view takes no input meanwhile, and a close asked
    // for in between waits for the answer.
    const State before = m_state;
    m_state = State::Checking;
    m_view.SetBusy(true);
    const web::CodeCheckReply reply = web::CheckCompanyCode(m_roots, code, m_context.MachineCode, m_fetch);
    m_view.SetBusy(false);
    m_state = before;
    qCInfo(lcRequest) << "company code" << code << OutcomeName(reply.Outcome);

    // Also when the service was out of reach: the code itself then stands for the company.
    m_context.DeptName = reply.CompanyName.isEmpty() ? code : reply.CompanyName;
    util::IniWrite(m_context.IniFile, settings::kDeptInfoSection, code, m_context.DeptName);

    if (m_closeAfterCheck) {
        m_view.CloseWindow();
        return;
    }
    ActOnReply(reply);
}

void EntryRules::ActOnReply(const web::CodeCheckReply& reply) {
    switch (reply.Outcome) {
        case web::CodeCheckOutcome::UnregisteredCode:
            m_view.Tell(kUnregistered);
            m_view.Focus(EntryField::Code);
            return;
        case web::CodeCheckOutcome::Refused:
            m_view.Tell(RefusedMessage(m_context.DeptCode, m_context.DeptName,
                                       reply.Reason.isEmpty() ? kUnknownReason : reply.Reason));
            return;
        case web::CodeCheckOutcome::Accepted:
            m_isChanged = true;
            m_view.CloseWindow();
            return;
        case web::CodeCheckOutcome::Unreachable:
            break;
    }
    m_view.Tell(kUnreachable);
    const std::optional<ManualAddress> address = m_view.AskManualAddress();
    // Given up, or the window was closed meanwhile: nothing to hand over.
    if (!address || m_state == State::Closed) return;
    m_address = *address;
    m_connectNow = true;
    m_isChanged = true;
    m_view.CloseWindow();
}

bool EntryRules::Close() {
    if (m_state == State::Checking) {
        m_closeAfterCheck = true;
        return false;
    }
    if (m_state == State::Closed) return true;
    m_state = State::Closed;
    // Listed without the blanks typed around it, as it was checked.
    m_history.Use(m_code.trimmed());
    m_history.Save(m_context.IniFile);
    settings::Write(m_context.IniFile, settings::LastDeptCode, m_code);
    settings::Write(m_context.IniFile, settings::MyName, m_name);
    settings::Write(m_context.IniFile, settings::MyPhone, m_phone);
    return true;
}

void EntryRules::SetCode(const QString& code) {
    m_view.ShowCode(code);
    CodeEdited(code);
}

void EntryRules::SetName(const QString& name) {
    m_view.ShowName(name);
    NameEdited(name);
}

void EntryRules::SetPhone(const QString& phone) {
    m_view.ShowPhone(phone);
    PhoneEdited(phone);
}

void EntryRules::ApplyOkRule() {
    m_view.EnableOk(!m_code.isEmpty() && !m_name.trimmed().isEmpty());
}

}  // namespace pelio::request
