// The history viewer's recording tab: the player with its command bar (buttons, slider, time, speed),
// its keys, and the chat lines of the recording's session beside it.
#include "history/frmPlay.h"

#include "history/HistoryLog.h"
#include "history/HistoryTree.h"
#include "history/PlaybackTime.h"
#include "history/SessionLines.h"
#include "playback/PlaybackComponent.h"
#include "util/core/Paths.h"
#include "util/gui/Dialogs.h"
#include "util/gui/MessageBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace pelio::history {

namespace {

const QString kCannotOpen =
    QStringLiteral(" 파일을 열 수 없습니다. 파일이 손상되었거나 형식이 일치하지 않습니다.");
const QString kCannotOpenNote = QStringLiteral(
    "현재 원격지원 중인 녹화파일을 선택한 경우에도 이 메시지가 표시됩니다. (원격지원 종료 후 볼 수 있음)");
const QString kLoadTitle = QStringLiteral("원격지원 시 녹화된 파일을 선택하세요.");
const QString kLoadFilter = QStringLiteral("원격지원 녹화파일(*.srf)|*.srf");
const QString kExportText = QStringLiteral("동영상으로 저장");
const QString kExportTip =
    QStringLiteral("열려 있는 녹화화면을 다른 사람에게 줄 수 있는 동영상 파일(MP4, WebM)로 저장합니다.");
const QString kSpeedText = QStringLiteral("재생 속도");
const QString kLinesTitle = QStringLiteral("녹화 중 대화");
const QString kNoRecordingLines = QStringLiteral("녹화화면을 열면 그 때의 대화가 여기에 나옵니다.");
const QString kNoTranscript = QStringLiteral("이 녹화화면과 같은 때의 대화내용이 없습니다.");
const QString kNoTimedLines = QStringLiteral("%1: 시각이 적힌 대화가 없습니다.");
const QString kLinesFrom = QStringLiteral("%1: 줄을 누르면 그 때로 이동합니다.");
const QString kStartUnknown =
    QStringLiteral("%1: 녹화 시작 시각이 기록되지 않은 녹화화면이어서 대화로 이동할 수 없습니다.");
const QString kLinePositionTip = QStringLiteral("녹화화면 %1");

// The position in the recording that a chat line's node moves to; absent when it moves nowhere.
constexpr int kPositionRole = Qt::UserRole;

// A slider shows ints: a longer recording's positions are shown at the slider's end.
int SliderValue(qint64 value) {
    return static_cast<int>(std::clamp<qint64>(value, 0, std::numeric_limits<int>::max()));
}

}  // namespace

QWidget* frmPlay::BuildRecordingPanel(QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("picRight2"));
    auto* recordingLayout = new QVBoxLayout(panel);
    recordingLayout->setContentsMargins(0, 0, 0, 0);

    // The player and, beside it, the chat lines of its session.
    auto* splitter = new QSplitter(Qt::Horizontal, panel);
    splitter->setObjectName(QStringLiteral("splRecording"));
    m_playback->setParent(splitter);
    m_playback->setObjectName(QStringLiteral("Playback1"));
    m_playback->setAccessibleName(QStringLiteral("녹화화면 재생"));
    // A click on the picture gives the tab the focus, and with it the keys.
    m_playback->setFocusPolicy(Qt::StrongFocus);
    splitter->addWidget(m_playback);
    auto* picLines = new QWidget(splitter);
    picLines->setObjectName(QStringLiteral("picLines"));
    auto* linesLayout = new QVBoxLayout(picLines);
    linesLayout->setContentsMargins(4, 0, 0, 0);
    auto* lblLines = new QLabel(kLinesTitle, picLines);
    lblLines->setObjectName(QStringLiteral("lblLines"));
    m_lvLines = new QTreeWidget(picLines);
    m_lvLines->setObjectName(QStringLiteral("lvLines"));
    m_lvLines->setAccessibleName(kLinesTitle);
    m_lvLines->setRootIsDecorated(false);
    m_lvLines->setUniformRowHeights(true);
    m_lvLines->setHeaderLabels({QStringLiteral("시각"), QStringLiteral("대화")});
    m_lvLines->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_lvLines->header()->setStretchLastSection(true);
    m_lblLinesNote = new QLabel(kNoRecordingLines, picLines);
    m_lblLinesNote->setObjectName(QStringLiteral("lblLinesNote"));
    m_lblLinesNote->setWordWrap(true);
    linesLayout->addWidget(lblLines);
    linesLayout->addWidget(m_lvLines, 1);
    linesLayout->addWidget(m_lblLinesNote);
    splitter->addWidget(picLines);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setChildrenCollapsible(false);
    splitter->setSizes({520, 240});
    recordingLayout->addWidget(splitter, 1);

    // The command bar: the slider with the time over the buttons and options.
    auto* picCmd = new QWidget(panel);
    picCmd->setObjectName(QStringLiteral("picCmd"));
    auto* rows = new QVBoxLayout(picCmd);
    rows->setContentsMargins(4, 4, 4, 4);
    auto* seekRow = new QHBoxLayout;
    auto* bar = new QHBoxLayout;
    rows->addLayout(seekRow);
    rows->addLayout(bar);
    // Buttons with an icon only: the description is read out by screen readers and shown on hover.
    auto makeButton = [&](const QString& name, QStyle::StandardPixmap icon, const QString& description) {
        auto* button = new QPushButton(picCmd);
        button->setObjectName(name);
        button->setIcon(style()->standardIcon(icon));
        button->setAccessibleName(description);
        button->setToolTip(description);
        button->setAutoDefault(false);
        bar->addWidget(button);
        return button;
    };
    m_cmdLoad =
        makeButton(QStringLiteral("cmdLoad"), QStyle::SP_DialogOpenButton, QStringLiteral("녹화 파일 열기"));
    m_cmdPlay = makeButton(QStringLiteral("cmdPlay"), QStyle::SP_MediaPlay, QStringLiteral("재생"));
    m_cmdPause = makeButton(QStringLiteral("cmdPause"), QStyle::SP_MediaPause, QStringLiteral("일시 정지"));
    m_sld = new QSlider(Qt::Horizontal, picCmd);
    m_sld->setObjectName(QStringLiteral("sld"));
    m_sld->setAccessibleName(QStringLiteral("재생 위치"));
    m_sld->setRange(0, 0);
    seekRow->addWidget(m_sld, 1);
    m_lblTime = new QLabel(PlaybackTimeText(0, 0), picCmd);
    m_lblTime->setObjectName(QStringLiteral("lblTime"));
    m_lblTime->setAccessibleName(QStringLiteral("재생 시간"));
    seekRow->addWidget(m_lblTime);
    auto* lblSpeed = new QLabel(kSpeedText, picCmd);
    lblSpeed->setObjectName(QStringLiteral("lblSpeed"));
    m_cboSpeed = new QComboBox(picCmd);
    m_cboSpeed->setObjectName(QStringLiteral("cboSpeed"));
    m_cboSpeed->setAccessibleName(kSpeedText);
    for (double speed : kPlaybackSpeeds) m_cboSpeed->addItem(SpeedText(speed), speed);
    m_cboSpeed->setCurrentIndex(kDefaultSpeedIndex);
    lblSpeed->setBuddy(m_cboSpeed);
    bar->addStretch(1);
    bar->addWidget(lblSpeed);
    bar->addWidget(m_cboSpeed);
    m_chkStretch = new QCheckBox(QStringLiteral("화면 맞춤"), picCmd);
    m_chkStretch->setObjectName(QStringLiteral("chkStretch"));
    m_chkStretch->setAccessibleName(m_chkStretch->text());
    m_chkStretch->setToolTip(QStringLiteral("녹화화면 크기를 현재 창에 맞게 늘입니다."));
    bar->addWidget(m_chkStretch);
    m_chkAutoScroll = new QCheckBox(QStringLiteral("자동스크롤"), picCmd);
    m_chkAutoScroll->setObjectName(QStringLiteral("chkAutoScroll"));
    m_chkAutoScroll->setAccessibleName(m_chkAutoScroll->text());
    m_chkAutoScroll->setToolTip(QStringLiteral("마우스가 화면 모서리로 이동하면 자동으로 스크롤합니다."));
    bar->addWidget(m_chkAutoScroll);
    m_cmdExport = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), kExportText, picCmd);
    m_cmdExport->setObjectName(QStringLiteral("cmdExport"));
    m_cmdExport->setAccessibleName(kExportText);
    m_cmdExport->setToolTip(kExportTip);
    m_cmdExport->setAutoDefault(false);
    bar->addWidget(m_cmdExport);
    recordingLayout->addWidget(picCmd);

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setParent(this);
    m_timer1.setInterval(100);

    connect(m_cmdLoad, &QPushButton::clicked, this, &frmPlay::OnLoadClicked);
    connect(m_cmdPlay, &QPushButton::clicked, this, [this] { m_control.Play(); });
    connect(m_cmdPause, &QPushButton::clicked, this, [this] { m_control.Pause(); });
    connect(m_cmdExport, &QPushButton::clicked, this, &frmPlay::OnExportClicked);
    connect(m_sld, &QSlider::valueChanged, this, [this](int value) { m_control.SliderMoved(value); });
    connect(m_cboSpeed, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) m_control.SetSpeed(m_cboSpeed->itemData(index).toDouble());
    });
    connect(m_lvLines, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { OnLineChosen(item); });
    connect(m_lvLines, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { OnLineChosen(item); });
    connect(&m_timer1, &QTimer::timeout, this, [this] { m_control.Tick(); });
    m_sld->installEventFilter(this);

    // The keys of the tab, wherever in it the focus is; they come before the controls' own use of them
    // (a button's Space, the slider's and the list's arrows and Home and End).
    for (int key : {Qt::Key_Space, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End}) {
        auto* shortcut = new QShortcut(QKeySequence(key), panel);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        shortcut->setAutoRepeat(true);
        connect(shortcut, &QShortcut::activated, this, [this, key] { m_control.Key(key); });
    }
    return panel;
}

void frmPlay::ShowSessionLines() {
    m_lvLines->clear();
    const QString recording = m_control.RecordingPath();
    if (recording.isEmpty()) {
        m_lblLinesNote->setText(kNoRecordingLines);
        return;
    }
    const qint64 start = m_playback->StartTime();
    const qint64 length = m_control.Length();
    std::vector<TranscriptCandidate> candidates;
    std::vector<std::vector<TranscriptLine>> read;
    qint64 budget = kMaxCandidateBytes;
    for (const QString& path : CandidateTranscriptPaths(recording)) {
        read.push_back(ReadTranscriptFileLines(path, budget));
        budget -= QFileInfo(path).size();
        TranscriptCandidate candidate{path, {}};
        for (const TranscriptLine& line : read.back()) candidate.lineTimes.push_back(line.whenMs);
        candidates.push_back(std::move(candidate));
    }
    const QString transcript = PairTranscript(recording, start, length, candidates);
    qCInfo(lcHistory).noquote() << "session lines of" << recording << "from"
                                << (transcript.isEmpty() ? QStringLiteral("no transcript") : transcript);
    if (transcript.isEmpty()) {
        m_lblLinesNote->setText(kNoTranscript);
        return;
    }
    const QString name = util::FileNameOfPath(transcript);
    std::size_t index = 0;
    while (index < candidates.size() && candidates[index].path != transcript) ++index;
    const std::vector<TranscriptLine>& lines = read[index];
    for (const TranscriptLine& line : lines) {
        auto* item = new QTreeWidgetItem(
            {QDateTime::fromMSecsSinceEpoch(line.whenMs).toString(QStringLiteral("HH:mm:ss")),
             line.name.isEmpty() ? line.text : line.name + QStringLiteral(": ") + line.text});
        item->setToolTip(1, item->text(1));
        if (const std::optional<qint64> position = LinePosition(line.whenMs, start, length)) {
            item->setData(0, kPositionRole, *position);
            item->setToolTip(0, kLinePositionTip.arg(FormatPlaybackTime(*position)));
        } else {
            item->setDisabled(true);  // nowhere to move to
        }
        m_lvLines->addTopLevelItem(item);
    }
    if (lines.empty())
        m_lblLinesNote->setText(kNoTimedLines.arg(name));
    else if (start < 0)
        m_lblLinesNote->setText(kStartUnknown.arg(name));
    else
        m_lblLinesNote->setText(kLinesFrom.arg(name));
}

void frmPlay::OnLineChosen(QTreeWidgetItem* item) {
    if (!item || !item->data(0, kPositionRole).isValid()) return;
    m_control.SeekTo(item->data(0, kPositionRole).toLongLong());
}

bool frmPlay::OpenRecordingFile(const QString& path) {
    const bool opened = m_control.Open(path);
    ShowSessionLines();
    return opened;
}

void frmPlay::OnLoadClicked() {
    if (m_dialogFolder.isEmpty()) m_dialogFolder = m_context.HistoryFolder;
    util::OpenFilesRequest request;
    request.parent = this;
    request.title = kLoadTitle;
    request.filter = kLoadFilter;
    request.initialFolder = m_dialogFolder;
    request.multiple = false;
    const util::OpenFilesAnswer answer = util::Dialogs::OpenFiles(request);
    if (answer.files.isEmpty()) return;
    const QString path = answer.files.first();
    m_dialogFolder = util::FolderOfPath(path);
    // The dialog lets only existing files through; a file removed meanwhile fails to open like any other.
    OpenRecordingFile(path);
}

void frmPlay::ShowState(PlaybackControl::State state, bool moveFocus) {
    const PlaybackControl::Controls on = PlaybackControl::ControlsIn(state);
    m_cmdPlay->setEnabled(on.play);
    m_cmdPause->setEnabled(on.pause);
    m_sld->setEnabled(on.slider);
    m_cmdExport->setEnabled(m_export.CanExport());
    if (!on.timer)
        m_timer1.stop();
    else if (!m_timer1.isActive())
        m_timer1.start();
    QPushButton* next = on.play ? m_cmdPlay : m_cmdPause;
    if (moveFocus && next->isEnabled() && next->isVisible()) next->setFocus();
}

void frmPlay::ShowPosition(qint64 position) {
    // Shown, not chosen by the customer: no seek.
    const QSignalBlocker block(m_sld);
    m_sld->setValue(SliderValue(position));
    m_lblTime->setText(PlaybackTimeText(position, m_control.Length()));
}

void frmPlay::ShowLength(qint64 length) {
    // The new recording starts at its start: the slider must not carry the old recording's value
    // over (narrowing the range would otherwise seek the new one to its end).
    const QSignalBlocker block(m_sld);
    m_sld->setValue(0);
    m_sld->setRange(0, SliderValue(length));
    m_sld->setPageStep(SliderLargeStep(SliderValue(length)));
    m_lblTime->setText(PlaybackTimeText(0, length));
}

void frmPlay::ReportEnd() {
    QApplication::beep();
}

void frmPlay::ReportOpenFailure(const QString& path) {
    util::MessageBoxes::Show(this, path + kCannotOpen + QStringLiteral("\r\n\r\n") + kCannotOpenNote,
                             util::MsgIcon::Critical);
}

bool frmPlay::eventFilter(QObject* watched, QEvent* event) {
    // Raw presses rather than the slider's own signals: a press on the groove counts too.
    if (watched == m_sld && event->type() == QEvent::MouseButtonPress)
        m_control.SliderPressed();
    else if (watched == m_sld && event->type() == QEvent::MouseButtonRelease)
        m_control.SliderReleased(m_sld->value());
    return QDialog::eventFilter(watched, event);
}

}  // namespace pelio::history
