#include "history/frmPlay.h"

#include "history/HistoryLog.h"
#include "history/HistoryTree.h"
#include "platform/Services.h"
#include "platform/UserFolders.h"
#include "playback/PlaybackComponent.h"
#include "playback/SrfVideoExport.h"
#include "util/core/Ansi.h"
#include "util/core/Paths.h"
#include "util/core/SettingsKeys.h"
#include "util/gui/Dialogs.h"
#include "util/gui/FileRoutines.h"
#include "util/gui/HtmlView.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLifetime.h"
#include "util/gui/WindowRoutines.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QStyle>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace pelio::history {

namespace {

const QString kName = QStringLiteral("frmPlay");
const QString kStartText = QStringLiteral("about:대화내용 또는 녹화화면의 목록을 클릭하세요.");
const QString kEmptyHistory = QStringLiteral("지원이력이 하나도 없습니다.");

// Item data of the tree nodes: the key and the tag ("folder" or "file").
constexpr int kKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;
const QString kFolderTag = QStringLiteral("folder");
const QString kFileTag = QStringLiteral("file");

QIcon StandardIcon(QStyle::StandardPixmap which, QStyle::StandardPixmap selected) {
    QStyle* style = QApplication::style();
    QIcon icon;
    icon.addPixmap(style->standardIcon(which).pixmap(16, 16), QIcon::Normal);
    icon.addPixmap(style->standardIcon(selected).pixmap(16, 16), QIcon::Selected);
    return icon;
}

// A check box value from the settings file: 1 checked, any other number unchecked, and the default
// (checked) when the stored text is not a number.
bool CheckedSetting(const QString& iniFile, const util::settings::Key& key) {
    bool ok = false;
    const int value = util::settings::Read(iniFile, key).trimmed().toInt(&ok);
    return ok ? value == 1 : key.defaultValue == QLatin1String("1");
}

QTreeWidget* NewTree(const QString& name, const QString& accessibleName, QWidget* parent) {
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(name);
    tree->setAccessibleName(accessibleName);
    tree->setColumnCount(1);
    tree->setHeaderHidden(true);
    tree->setIconSize(QSize(16, 16));
    return tree;
}

}  // namespace

frmPlay::frmPlay(app::AppContext& context, platform::FileManager& fileManager,
                 std::unique_ptr<components::PlaybackComponent> playback, QWidget* parent)
    : QDialog(parent),
      m_context(context),
      m_fileManager(fileManager),
      m_playback(playback.release()),
      m_control(*m_playback, *this),
      m_export(m_control) {
    setObjectName(kName);
    setWindowTitle(app::kReviewWindowTitle);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    m_state = 1;
    BuildControls();
    resize(960, 680);
    util::RestoreWindowPlacement(this, kName, false, 0,
                                 {m_context.IniFile, m_context.ScreenTwipsX, m_context.ScreenTwipsY});

    m_webChat->LoadAddress(kStartText);

    m_chkStretch->setChecked(CheckedSetting(m_context.IniFile, util::settings::Stretch));
    m_playback->SetStretchView(m_chkStretch->isChecked());
    m_chkAutoScroll->setChecked(CheckedSetting(m_context.IniFile, util::settings::AutoScroll));
    m_playback->SetAutoScrollView(m_chkAutoScroll->isChecked());
    connect(m_chkStretch, &QCheckBox::toggled, this, [this](bool on) { m_playback->SetStretchView(on); });
    connect(m_chkAutoScroll, &QCheckBox::toggled, this,
            [this](bool on) { m_playback->SetAutoScrollView(on); });

    FillTrees();
}

frmPlay::~frmPlay() = default;

void frmPlay::BuildControls() {
    m_iml.insert(QStringLiteral("closedfolder"),
                 StandardIcon(QStyle::SP_DirClosedIcon, QStyle::SP_DirClosedIcon));
    m_iml.insert(QStringLiteral("openfolder"), StandardIcon(QStyle::SP_DirOpenIcon, QStyle::SP_DirOpenIcon));
    m_iml.insert(QStringLiteral("chat"), StandardIcon(QStyle::SP_FileIcon, QStyle::SP_FileIcon));
    m_iml.insert(QStringLiteral("record"), StandardIcon(QStyle::SP_MediaPlay, QStyle::SP_MediaPlay));

    // Left pane: the recordings over the transcripts, each under its label, and the folder button.
    auto* picLeft = new QWidget(this);
    picLeft->setObjectName(QStringLiteral("picLeft"));
    auto* left = new QVBoxLayout(picLeft);
    left->setContentsMargins(0, 0, 0, 0);
    auto* lblRecord = new QLabel(QStringLiteral("녹화화면"), picLeft);
    lblRecord->setObjectName(QStringLiteral("lblRecord"));
    m_tvRecord = NewTree(QStringLiteral("tvRecord"), lblRecord->text(), picLeft);
    auto* lblChat = new QLabel(QStringLiteral("대화내용"), picLeft);
    lblChat->setObjectName(QStringLiteral("lblChat"));
    m_tvChat = NewTree(QStringLiteral("tvChat"), lblChat->text(), picLeft);
    m_cmdExplorer = new QPushButton(picLeft);
    m_cmdExplorer->setObjectName(QStringLiteral("cmdExplorer"));
    m_cmdExplorer->setAccessibleName(QStringLiteral("폴더 열기"));
    m_cmdExplorer->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    m_cmdExplorer->setToolTip(QStringLiteral("탐색기 실행..."));
    m_cmdExplorer->setAutoDefault(false);
    left->addWidget(lblRecord);
    left->addWidget(m_tvRecord, 1);
    left->addWidget(lblChat);
    left->addWidget(m_tvChat, 1);
    left->addWidget(m_cmdExplorer, 0, Qt::AlignLeft);

    // Right pane: the tab strip over its two panels.
    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    m_tabTab = new QTabBar(right);
    m_tabTab->setObjectName(QStringLiteral("tabTab"));
    m_tabTab->setAccessibleName(QStringLiteral("보기 선택"));
    m_tabTab->addTab(QStringLiteral("대화내용"));
    m_tabTab->addTab(QStringLiteral("녹화화면"));
    m_tabTab->setExpanding(false);
    m_tabTab->setDrawBase(true);
    rightLayout->addWidget(m_tabTab);

    m_picRight[kTranscriptTab] = new QWidget(right);
    m_picRight[kTranscriptTab]->setObjectName(QStringLiteral("picRight1"));
    auto* transcriptLayout = new QVBoxLayout(m_picRight[kTranscriptTab]);
    transcriptLayout->setContentsMargins(0, 0, 0, 0);
    m_webChat = new util::HtmlView(m_picRight[kTranscriptTab]);
    m_webChat->setObjectName(QStringLiteral("webChat"));
    m_webChat->setAccessibleName(QStringLiteral("대화내용 본문"));
    m_webChat->SetNavigationHook([this](const util::HtmlView::Navigation& navigation) {
        // Only the customer's clicks: a refresh, redirect, form or frame inside a transcript (written
        // by the agent's lines) goes nowhere.
        if (!navigation.mainFrame || (navigation.kind != util::HtmlView::NavigationKind::Link &&
                                      navigation.kind != util::HtmlView::NavigationKind::NewWindow))
            return false;
        return DecideTranscriptNavigation(navigation.url.toString(QUrl::FullyEncoded));
    });
    transcriptLayout->addWidget(m_webChat);

    m_picRight[kRecordingTab] = BuildRecordingPanel(right);

    rightLayout->addWidget(m_picRight[kTranscriptTab], 1);
    rightLayout->addWidget(m_picRight[kRecordingTab], 1);
    m_picRight[kRecordingTab]->hide();

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(picLeft);
    splitter->addWidget(right);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    splitter->setSizes({240, 720});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(splitter);

    ShowState(m_control.CurrentState(), false);  // before the first recording only loading one

    connect(m_tvChat, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { OnTranscriptClicked(item); });
    connect(m_tvRecord, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { OnRecordingClicked(item); });
    // Moving through a tree with the keyboard acts as a click on the node reached, so that a customer
    // without a mouse, or a screen reader's user, can open the files too. A change made by a mouse
    // press is left to the click that follows it.
    const auto byKeyboard = [](QTreeWidget* tree) {
        return tree->hasFocus() && QGuiApplication::mouseButtons() == Qt::NoButton;
    };
    connect(m_tvChat, &QTreeWidget::currentItemChanged, this, [this, byKeyboard](QTreeWidgetItem* item) {
        if (byKeyboard(m_tvChat)) OnTranscriptClicked(item);
    });
    connect(m_tvRecord, &QTreeWidget::currentItemChanged, this, [this, byKeyboard](QTreeWidgetItem* item) {
        if (byKeyboard(m_tvRecord)) OnRecordingClicked(item);
    });
    connect(m_webChat, &util::HtmlView::documentLoaded, this, [this](bool ok) {
        if (!lcHistory().isInfoEnabled() || m_shownTranscript.isEmpty()) return;
        m_webChat->RunDomScript(QStringLiteral("document.body ? document.body.innerText.length : 0"),
                                [this, ok](const QVariant& length) {
                                    qCInfo(lcHistory).noquote()
                                        << "transcript shown" << m_shownTranscript << (ok ? "ok" : "failed")
                                        << length.toInt() << "characters";
                                });
    });
    connect(m_cmdExplorer, &QPushButton::clicked, this,
            [this] { util::OpenInExplorer(m_context.HistoryFolder, m_fileManager); });
    connect(m_tabTab, &QTabBar::currentChanged, this, &frmPlay::OnTabChanged);
}

void frmPlay::FillTrees() {
    QHash<QString, QTreeWidgetItem*> chatFolders;
    QHash<QString, QTreeWidgetItem*> recordFolders;
    auto newItem = [](const HistoryNode& node, const QIcon& icon, const QString& tag) {
        auto* item = new QTreeWidgetItem(QStringList{node.text});
        item->setIcon(0, icon);
        item->setData(0, kKeyRole, node.key);
        item->setData(0, kTagRole, tag);
        return item;
    };
    auto attach = [](QTreeWidget* tree, QTreeWidgetItem* parent, QTreeWidgetItem* item) {
        if (parent)
            parent->addChild(item);
        else
            tree->addTopLevelItem(item);
    };

    QIcon folderIcon;
    folderIcon.addPixmap(m_iml.value(QStringLiteral("closedfolder")).pixmap(16, 16), QIcon::Normal);
    folderIcon.addPixmap(m_iml.value(QStringLiteral("openfolder")).pixmap(16, 16), QIcon::Selected);

    for (const HistoryNode& node : ScanHistory(m_context.HistoryFolder)) {
        QTreeWidgetItem* chatParent = chatFolders.value(node.parentKey);
        QTreeWidgetItem* recordParent = recordFolders.value(node.parentKey);
        switch (node.kind) {
            case HistoryNode::Kind::Folder: {
                QTreeWidgetItem* chat = newItem(node, folderIcon, kFolderTag);
                QTreeWidgetItem* record = newItem(node, folderIcon, kFolderTag);
                attach(m_tvChat, chatParent, chat);
                attach(m_tvRecord, recordParent, record);
                chatFolders.insert(node.key, chat);
                recordFolders.insert(node.key, record);
                break;
            }
            case HistoryNode::Kind::Transcript:
                if (chatParent)
                    chatParent->addChild(newItem(node, m_iml.value(QStringLiteral("chat")), kFileTag));
                break;
            case HistoryNode::Kind::Recording:
                if (recordParent)
                    recordParent->addChild(newItem(node, m_iml.value(QStringLiteral("record")), kFileTag));
                break;
        }
    }
}

void frmPlay::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_closed = false;
    if (m_state != 2) {
        m_state = 2;
        // After the window is on screen, so that the message box has its owner.
        QTimer::singleShot(0, this, &frmPlay::OnFirstActivation);
    }
}

void frmPlay::OnFirstActivation() {
    if (m_tvChat->topLevelItemCount() > 0) return;
    util::MessageBoxes::Inform(this, kEmptyHistory);
    close();
}

void frmPlay::keyPressEvent(QKeyEvent* event) {
    // The window closes only through its close button, not with Escape as a dialog would.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmPlay::done(int result) {
    if (!m_closed) {
        m_closed = true;
        if (m_exporter) m_exporter->Cancel();  // its end, if it comes, only shows nothing more
        util::SaveWindowPlacement(this, kName,
                                  {m_context.IniFile, m_context.ScreenTwipsX, m_context.ScreenTwipsY});
        m_control.Close();
        util::settings::Write(m_context.IniFile, util::settings::Stretch,
                              m_chkStretch->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        util::settings::Write(m_context.IniFile, util::settings::AutoScroll,
                              m_chkAutoScroll->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    }
    QDialog::done(result);
}

void frmPlay::OnTranscriptClicked(QTreeWidgetItem* item) {
    if (!item) return;
    if (item->data(0, kTagRole).toString() == kFolderTag) {
        item->setExpanded(true);
        return;
    }
    ShowTranscript(item->data(0, kKeyRole).toString());
}

void frmPlay::ShowTranscript(const QString& path) {
    m_tabTab->setCurrentIndex(kTranscriptTab);
    m_webChat->hide();
    m_shownTranscript = path;
    // Read here rather than by the browser: transcripts are UTF-8 or, made on Windows, code page 949,
    // which the browser engine would decode as EUC-KR and garble.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        m_webChat->LoadHtml(util::DecodeLocalText(file.readAll()));
    else
        m_webChat->LoadUrl(QUrl::fromLocalFile(path));  // the browser shows its own error page
    m_webChat->show();
}

bool frmPlay::DecideTranscriptNavigation(const QString& address) {
    const std::optional<QString> path = ExplorerLinkPath(address);
    if (!path) return IsTranscriptWebAddress(address);
    util::OpenInExplorer(util::FileExists(*path, false) ? *path : util::FolderOfPath(*path), m_fileManager);
    return false;
}

void frmPlay::OnRecordingClicked(QTreeWidgetItem* item) {
    if (!item) return;
    if (item->data(0, kTagRole).toString() == kFolderTag) {
        item->setExpanded(true);
        return;
    }
    OpenRecordingFile(item->data(0, kKeyRole).toString());
    m_tabTab->setCurrentIndex(kRecordingTab);
}

void frmPlay::OnTabChanged(int index) {
    for (int i = 0; i < 2; ++i) m_picRight[i]->setVisible(i == index);
    if (index == kTranscriptTab)
        m_control.LeaveRecordingTab();
    else
        m_control.ShowRecordingTab();
}

}  // namespace pelio::history
