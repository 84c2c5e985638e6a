#include "request/ManualAddressRules.h"

#include "util/core/SettingsKeys.h"
#include "util/core/TextUtil.h"

namespace pelio::request {

namespace {

namespace settings = util::settings;

const QString kBadAddress = QStringLiteral("상담원이 알려준 IP 주소를 올바로 입력하십시오.");
const QString kBadPort = QStringLiteral("상담원이 알려준 포트번호를 올바로 입력하십시오.");

}  // namespace

ManualAddressRules::ManualAddressRules(QString iniFile) : m_iniFile(std::move(iniFile)) {}

QString ManualAddressRules::StoredAddressText() const {
    return settings::Read(m_iniFile, settings::LastIP);
}

QString ManualAddressRules::StoredPortText() const {
    return settings::Read(m_iniFile, settings::LastPort);
}

ManualAddressRules::Verdict ManualAddressRules::Confirm(const QString& addressText, const QString& portText) {
    m_state = State::Editing;
    const QString address = addressText.trimmed();
    if (util::CountOccurrences(address, QStringLiteral(".")) < 3) return {Field::Address, kBadAddress};
    // A port that is no port would hand the session a connection that cannot work.
    const int port = PortOf(portText);
    if (port == 0) return {Field::Port, kBadPort};
    m_serverIP = address;
    m_serverPort = port;
    m_state = State::Confirmed;
    return {};
}

void ManualAddressRules::Close(const QString& addressText, const QString& portText) const {
    settings::Write(m_iniFile, settings::LastIP, addressText);
    settings::Write(m_iniFile, settings::LastPort, portText);
}

int ManualAddressRules::PortOf(const QString& text) {
    const QString digits = text.trimmed();
    if (digits.isEmpty()) return 0;
    int value = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9') return 0;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 65535) return 0;
    }
    return value;
}

}  // namespace pelio::request
