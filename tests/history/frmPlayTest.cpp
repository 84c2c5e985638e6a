// The history viewer through its named controls, with the fake playback component.
#include "history/HistoryViewer.h"
#include "history/VideoExportControl.h"
#include "history/frmPlay.h"
#include "platform/FakeServices.h"
#include "playback/FakePlaybackComponent.h"
#include "recording/SrfReader.h"
#include "recording/SrfWriter.h"
#include "support/AccessibleNames.h"
#include "support/ScriptedDialogs.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "transfer/ChatHtml.h"
#include "util/core/Ansi.h"
#include "util/core/IniFile.h"
#include "util/core/SettingsKeys.h"
#include "util/gui/HtmlView.h"

#include <gtest/gtest.h>

#include <limits>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace pelio;
using components::FakePlaybackComponent;
using history::frmPlay;
using test::ScriptedDialogs;
using test::ScriptedMessageBoxes;
using test::TempFolder;

namespace {

constexpr int kDeadlineMs = 20000;

void WriteFile(const QString& path, const QByteArray& bytes = QByteArray()) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& text) {
    const QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.size() == 1 ? found.first() : nullptr;
}

QStringList Texts(const QTreeWidgetItem* parent) {
    QStringList out;
    for (int i = 0; i < parent->childCount(); ++i) out << parent->child(i)->text(0);
    return out;
}

class frmPlayTest : public ::testing::Test {
  protected:
    TempFolder tmp;
    app::AppContext context;
    platform::FakeServices fakes;
    ScriptedMessageBoxes boxes;
    FakePlaybackComponent* playback = nullptr;  // owned by the window
    std::unique_ptr<frmPlay> window;

    QString company() const { return context.HistoryFolder + QStringLiteral("/1234-ABCo"); }
    QString recording(const QString& name) const { return company() + u'/' + name; }

    void SetUp() override {
        context.AppFolder = tmp.path();
        context.IniFile = tmp.file(QStringLiteral("PelioRS.ini"));
        context.HistoryFolder = tmp.file(QStringLiteral("원격지원 받은 이력"));
        context.Platform = &fakes.services;
        QDir().mkpath(context.HistoryFolder);
    }

    void Open() {
        auto fake = std::make_unique<FakePlaybackComponent>();
        playback = fake.get();
        window = std::make_unique<frmPlay>(context, *fakes.files, std::move(fake));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();  // the first-activation check
    }

    template <typename T>
    T* Control(const char* name) {
        T* c = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QTreeWidget* tvChat() { return Control<QTreeWidget>("tvChat"); }
    QTreeWidget* tvRecord() { return Control<QTreeWidget>("tvRecord"); }
    QPushButton* cmdPlay() { return Control<QPushButton>("cmdPlay"); }
    QPushButton* cmdPause() { return Control<QPushButton>("cmdPause"); }
    QSlider* sld() { return Control<QSlider>("sld"); }
    QTabBar* tabTab() { return Control<QTabBar>("tabTab"); }
    QTimer* timer1() { return Control<QTimer>("Timer1"); }

    void ClickNode(QTreeWidget* tree, const QString& text) {
        QTreeWidgetItem* item = FindItem(tree, text);
        ASSERT_NE(item, nullptr) << text.toStdString();
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    }

    // The buttons and timer as the playback state table has them.
    void ExpectPlaying() {
        EXPECT_EQ(playback->PlayState(), FakePlaybackComponent::Playing);
        EXPECT_FALSE(cmdPlay()->isEnabled());
        EXPECT_TRUE(cmdPause()->isEnabled());
        EXPECT_TRUE(timer1()->isActive());
    }
    void ExpectPaused(bool byPauseButton) {
        EXPECT_EQ(playback->PlayState(), FakePlaybackComponent::Paused);
        EXPECT_TRUE(cmdPlay()->isEnabled());
        EXPECT_EQ(cmdPause()->isEnabled(), !byPauseButton);
        EXPECT_TRUE(timer1()->isActive());
    }
    void ExpectStopped() {
        EXPECT_EQ(playback->PlayState(), FakePlaybackComponent::Stopped);
        EXPECT_TRUE(cmdPlay()->isEnabled());
        EXPECT_FALSE(cmdPause()->isEnabled());
        EXPECT_FALSE(timer1()->isActive());
    }
};

}  // namespace

TEST_F(frmPlayTest, TreesListBothKindsByFolderAndTheFolderButtonOpensTheHistory) {
    WriteFile(recording(QStringLiteral("2026-12-06(0).htm")));
    WriteFile(recording(QStringLiteral("deep/deeper/x.srf")));
    QDir().mkpath(context.HistoryFolder + QStringLiteral("/5678-빈회사"));
    Open();

    // An empty company folder is enough to keep the window open.
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(window->isVisible());
    // Every folder in both trees, with the same keys; each kind of file only in its own tree.
    for (QTreeWidget* tree : {tvChat(), tvRecord()}) {
        ASSERT_EQ(tree->topLevelItemCount(), 2);
        EXPECT_EQ(tree->topLevelItem(0)->data(0, Qt::UserRole).toString(), company() + u'/');
        EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("5678-빈회사"));
        QTreeWidgetItem* deeper = FindItem(tree, QStringLiteral("deeper"));
        ASSERT_NE(deeper, nullptr);
        EXPECT_EQ(deeper->parent()->text(0), QStringLiteral("deep"));
        EXPECT_EQ(deeper->data(0, Qt::UserRole).toString(), company() + QStringLiteral("/deep/deeper/"));
    }
    EXPECT_EQ(Texts(tvChat()->topLevelItem(0)),
              (QStringList{QStringLiteral("2026-12-06(0).htm"), QStringLiteral("deep")}));
    EXPECT_EQ(Texts(tvRecord()->topLevelItem(0)), QStringList{QStringLiteral("deep")});
    EXPECT_EQ(FindItem(tvRecord(), QStringLiteral("x.srf"))->data(0, Qt::UserRole).toString(),
              company() + QStringLiteral("/deep/deeper/x.srf"));

    // A folder node expands on a click and opens nothing.
    ClickNode(tvRecord(), QStringLiteral("1234-ABCo"));
    EXPECT_TRUE(tvRecord()->topLevelItem(0)->isExpanded());
    EXPECT_TRUE(playback->Calls().filter(QStringLiteral("OpenRecording")).isEmpty());

    QTest::mouseClick(Control<QPushButton>("cmdExplorer"), Qt::LeftButton);
    EXPECT_EQ(fakes.files->calls, QStringList{QStringLiteral("folder:") + context.HistoryFolder});

    // Screen readers and automation find every control by its name, icon-only buttons included.
    EXPECT_EQ(test::ControlsWithoutAccessibleName(window.get()), QStringList());
    EXPECT_EQ(cmdPlay()->accessibleName(), QStringLiteral("재생"));
    EXPECT_EQ(sld()->accessibleName(), QStringLiteral("재생 위치"));
    cmdPlay()->setAccessibleName(QString());
    EXPECT_EQ(test::ControlsWithoutAccessibleName(window.get()),
              QStringList{QStringLiteral("QPushButton cmdPlay")});
}

TEST_F(frmPlayTest, EmptyHistoryIsReportedAndTheWindowCloses) {
    WriteFile(context.HistoryFolder + QStringLiteral("/loose.htm"));  // not inside a company folder
    boxes.Answer(util::MsgAnswer::Ok);
    auto fake = std::make_unique<FakePlaybackComponent>();
    playback = fake.get();
    window = std::make_unique<frmPlay>(context, *fakes.files, std::move(fake));
    QSignalSpy finished(window.get(), &QDialog::finished);
    window->show();

    ASSERT_TRUE(test::WaitFor([&] { return finished.count() == 1; }, kDeadlineMs));
    EXPECT_FALSE(window->isVisible());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("지원이력이 하나도 없습니다."));
    EXPECT_EQ(boxes.boxes()[0].icon, util::MsgIcon::Information);
    EXPECT_EQ(boxes.boxes()[0].title, util::kAppTitle);
}

TEST_F(frmPlayTest, PlaybackFollowsTheStateTable) {
    WriteFile(recording(QStringLiteral("a.srf")));
    WriteFile(recording(QStringLiteral("b.srf")));
    Open();
    tvRecord()->expandAll();

    // Nothing to play yet.
    EXPECT_FALSE(cmdPlay()->isEnabled());
    EXPECT_FALSE(cmdPause()->isEnabled());
    EXPECT_FALSE(sld()->isEnabled());
    EXPECT_FALSE(timer1()->isActive());

    // A recording node opens and plays the recording on the recording tab.
    playback->SetLengthOnOpen(60000);
    playback->ClearCalls();
    ClickNode(tvRecord(), QStringLiteral("a.srf"));
    EXPECT_EQ(playback->Calls(),
              (QStringList{QStringLiteral("OpenRecording(%1)").arg(recording(QStringLiteral("a.srf"))),
                           QStringLiteral("PlayState=0")}));
    EXPECT_EQ(window->RecordingLength(), 60000);
    EXPECT_EQ(sld()->minimum(), 0);
    EXPECT_EQ(sld()->maximum(), 60000);
    EXPECT_EQ(sld()->pageStep(), 6000);
    EXPECT_TRUE(sld()->isEnabled());
    EXPECT_EQ(tabTab()->currentIndex(), frmPlay::kRecordingTab);
    EXPECT_TRUE(Control<QWidget>("picRight2")->isVisible());
    EXPECT_FALSE(Control<QWidget>("picRight1")->isVisible());
    ExpectPlaying();

    // The timer mirrors the position on the slider.
    playback->SetTestPosition(30000);
    ASSERT_TRUE(test::WaitFor([&] { return sld()->value() == 30000; }, kDeadlineMs));

    // Slider: pressed pauses, a value set while paused seeks, released resumes from there.
    QTest::mousePress(sld(), Qt::LeftButton, {}, QPoint(sld()->width() / 2, sld()->height() / 2));
    EXPECT_EQ(playback->PlayState(), FakePlaybackComponent::Paused);
    EXPECT_TRUE(cmdPause()->isEnabled());
    sld()->setValue(12345);
    EXPECT_EQ(playback->Position(), 12345);
    playback->ClearCalls();
    QTest::mouseRelease(sld(), Qt::LeftButton, {}, QPoint(sld()->width() / 2, sld()->height() / 2));
    EXPECT_EQ(playback->Calls(),
              (QStringList{QStringLiteral("Position=12345"), QStringLiteral("PlayState=0")}));
    ExpectPlaying();

    // After the pause button a slider release does not resume.
    QTest::mouseClick(cmdPause(), Qt::LeftButton);
    ExpectPaused(true);
    QTest::mousePress(sld(), Qt::LeftButton, {}, QPoint(5, sld()->height() / 2));
    QTest::mouseRelease(sld(), Qt::LeftButton, {}, QPoint(5, sld()->height() / 2));
    ExpectPaused(true);
    QTest::mouseClick(cmdPlay(), Qt::LeftButton);
    ExpectPlaying();

    // The transcript tab pauses, the recording tab resumes.
    tabTab()->setCurrentIndex(frmPlay::kTranscriptTab);
    ExpectPaused(true);
    EXPECT_TRUE(Control<QWidget>("picRight1")->isVisible());
    EXPECT_FALSE(Control<QWidget>("picRight2")->isVisible());
    tabTab()->setCurrentIndex(frmPlay::kRecordingTab);
    ExpectPlaying();

    // Within 17 of the end playback goes on; at 17 it stops and returns to the start.
    playback->SetTestPosition(60000 - 18);
    ASSERT_TRUE(test::WaitFor([&] { return sld()->value() == 60000 - 18; }, kDeadlineMs));
    ExpectPlaying();
    playback->SetTestPosition(60000 - 17);
    ASSERT_TRUE(test::WaitFor([&] { return !timer1()->isActive(); }, kDeadlineMs));
    ExpectStopped();
    EXPECT_EQ(sld()->value(), 0);
    EXPECT_EQ(playback->Position(), 0);
    QTest::mouseClick(cmdPlay(), Qt::LeftButton);
    ExpectPlaying();
    EXPECT_EQ(playback->Position(), 0);

    // Another recording chosen while one plays: the first is stopped before the second opens. A
    // shorter recording starts at its start, whatever the slider showed.
    playback->SetTestPosition(40000);
    ASSERT_TRUE(test::WaitFor([&] { return sld()->value() == 40000; }, kDeadlineMs));
    playback->SetLengthOnOpen(1000);
    playback->ClearCalls();
    ClickNode(tvRecord(), QStringLiteral("b.srf"));
    EXPECT_EQ(playback->Calls(),
              (QStringList{QStringLiteral("PlayState=2"),
                           QStringLiteral("OpenRecording(%1)").arg(recording(QStringLiteral("b.srf"))),
                           QStringLiteral("PlayState=0")}));
    EXPECT_EQ(sld()->value(), 0);
    EXPECT_EQ(sld()->maximum(), 1000);
    EXPECT_EQ(sld()->pageStep(), 100);
    ExpectPlaying();

    // A recording that cannot be opened: the message, and nothing left to play, as the component then
    // holds no recording.
    playback->SetOpenResult(false);
    boxes.Answer(util::MsgAnswer::Ok);
    const QString bad = recording(QStringLiteral("a.srf"));
    ClickNode(tvRecord(), QStringLiteral("a.srf"));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, util::MsgIcon::Critical);
    EXPECT_EQ(
        boxes.boxes()[0].text,
        bad + QStringLiteral(" 파일을 열 수 없습니다. 파일이 손상되었거나 형식이 일치하지 않습니다.\r\n\r\n"
                             "현재 원격지원 중인 녹화파일을 선택한 경우에도 이 메시지가 표시됩니다. "
                             "(원격지원 종료 후 볼 수 있음)"));
    EXPECT_EQ(playback->PlayState(), FakePlaybackComponent::Stopped);
    EXPECT_EQ(window->RecordingLength(), 0);
    EXPECT_EQ(sld()->maximum(), 0);
    EXPECT_FALSE(sld()->isEnabled());
    EXPECT_FALSE(cmdPlay()->isEnabled());
    EXPECT_FALSE(cmdPause()->isEnabled());
    EXPECT_FALSE(timer1()->isActive());

    // A length beyond the slider's int range is shown up to its end.
    playback->SetOpenResult(true);
    playback->SetLengthOnOpen(qint64(1) << 32);
    ClickNode(tvRecord(), QStringLiteral("b.srf"));
    EXPECT_EQ(window->RecordingLength(), qint64(1) << 32);
    EXPECT_EQ(sld()->maximum(), std::numeric_limits<int>::max());
    ExpectPlaying();
}

TEST_F(frmPlayTest, LoadButtonOpensWithoutSwitchingTabsAndTheDialogKeepsItsFolder) {
    WriteFile(recording(QStringLiteral("a.srf")));
    TempFolder elsewhere;
    const QString picked = elsewhere.file(QStringLiteral("그림.srf"));
    WriteFile(picked);
    Open();
    ScriptedDialogs dialogs;
    tabTab()->setCurrentIndex(frmPlay::kRecordingTab);
    auto* cmdLoad = Control<QPushButton>("cmdLoad");

    dialogs.fileAnswers.push_back({{}, util::kDialogCancelled, {}});
    QTest::mouseClick(cmdLoad, Qt::LeftButton);
    EXPECT_TRUE(playback->Calls().filter(QStringLiteral("OpenRecording")).isEmpty());

    dialogs.fileAnswers.push_back({{picked}, 0, {}});
    QTest::mouseClick(cmdLoad, Qt::LeftButton);
    EXPECT_EQ(playback->OpenedPath(), picked);
    EXPECT_EQ(tabTab()->currentIndex(), frmPlay::kRecordingTab);
    ExpectPlaying();

    dialogs.fileAnswers.push_back({{}, util::kDialogCancelled, {}});
    QTest::mouseClick(cmdLoad, Qt::LeftButton);

    ASSERT_EQ(dialogs.fileRequests.size(), 3u);
    EXPECT_EQ(dialogs.fileRequests[0].title, QStringLiteral("원격지원 시 녹화된 파일을 선택하세요."));
    EXPECT_EQ(dialogs.fileRequests[0].filter, QStringLiteral("원격지원 녹화파일(*.srf)|*.srf"));
    EXPECT_FALSE(dialogs.fileRequests[0].multiple);
    EXPECT_EQ(dialogs.fileRequests[0].initialFolder, context.HistoryFolder);
    EXPECT_EQ(dialogs.fileRequests[1].initialFolder, context.HistoryFolder);
    EXPECT_EQ(dialogs.fileRequests[2].initialFolder, elsewhere.path() + u'/');
}

TEST_F(frmPlayTest, TheExportButtonSavesTheOpenRecordingAsAVideoWhereTheCustomerChose) {
    // A real recording: the export reads the file the (fake) player opened.
    const QString srf = recording(QStringLiteral("2026-12-06(0).srf"));
    QDir().mkpath(company());
    {
        components::SrfWriter writer;
        ASSERT_TRUE(writer.Open(srf, QSize(64, 48)));
        QImage screen(64, 48, QImage::Format_RGB32);
        for (int i = 0; i < 10; ++i) {
            screen.fill(QColor(i * 20, 100, 200));
            writer.UpdateRectFromScreen(screen, screen.rect());
            ASSERT_TRUE(writer.CommitFrame(i * 100));
        }
        ASSERT_TRUE(writer.Finish(1000));
    }
    fakes.folders->documents = tmp.file(QStringLiteral("문서"));
    QDir().mkpath(fakes.folders->documents);
    Open();
    tabTab()->setCurrentIndex(frmPlay::kRecordingTab);
    auto* cmdExport = Control<QPushButton>("cmdExport");
    EXPECT_EQ(cmdExport->accessibleName(), QStringLiteral("동영상으로 저장"));
    EXPECT_FALSE(cmdExport->isEnabled());

    ASSERT_TRUE(window->OpenRecordingFile(srf));
    EXPECT_TRUE(cmdExport->isEnabled());
    ScriptedDialogs dialogs;
    dialogs.saveAnswers.push_back({});  // cancelled
    // The WebM filter adds .webm.
    dialogs.saveAnswers.push_back({fakes.folders->documents + QStringLiteral("/보낼 영상"),
                                   history::VideoExportControl::DialogFilters().at(1)});
    QTest::mouseClick(cmdExport, Qt::LeftButton);
    ExpectPlaying();
    EXPECT_TRUE(cmdExport->isEnabled());

    boxes.Answer(util::MsgAnswer::Ok);
    QTest::mouseClick(cmdExport, Qt::LeftButton);
    // Playback pauses while the export runs, under its progress dialog.
    EXPECT_FALSE(cmdExport->isEnabled());
    EXPECT_EQ(playback->PlayState(), FakePlaybackComponent::Paused);
    auto* progress = window->findChild<QProgressDialog*>(QStringLiteral("prgExport"));
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());
    ASSERT_TRUE(test::WaitFor([&] { return !boxes.boxes().empty(); }, kDeadlineMs));

    const QString video = fakes.folders->documents + QStringLiteral("/보낼 영상.webm");
    ASSERT_EQ(dialogs.saveRequests.size(), 2u);
    for (const util::SaveFileRequest& request : dialogs.saveRequests) {
        EXPECT_EQ(request.suggested, fakes.folders->documents + QStringLiteral("/2026-12-06(0).mp4"));
        EXPECT_EQ(request.filters.size(), 2);
    }
    EXPECT_EQ(boxes.boxes().front().text, QStringLiteral("동영상으로 저장했습니다.\n\n") + video);
    EXPECT_TRUE(QFileInfo(video).size() > 0);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(cmdExport->isEnabled());
    ExpectPlaying();
}

TEST_F(frmPlayTest, CheckBoxesAndPlacementAreReadAtLoadAndStoredAtClose) {
    WriteFile(recording(QStringLiteral("a.srf")));
    util::IniWrite(context.IniFile, QStringLiteral("Settings"), QStringLiteral("Stretch"),
                   QStringLiteral("0"));
    Open();
    auto* chkStretch = Control<QCheckBox>("chkStretch");
    auto* chkAutoScroll = Control<QCheckBox>("chkAutoScroll");
    EXPECT_EQ(chkStretch->text(), QStringLiteral("화면 맞춤"));
    EXPECT_EQ(chkAutoScroll->toolTip(),
              QStringLiteral("마우스가 화면 모서리로 이동하면 자동으로 스크롤합니다."));
    EXPECT_FALSE(chkStretch->isChecked());
    EXPECT_TRUE(chkAutoScroll->isChecked());  // default
    EXPECT_FALSE(playback->StretchView());
    EXPECT_TRUE(playback->AutoScrollView());

    tabTab()->setCurrentIndex(frmPlay::kRecordingTab);
    QTest::mouseClick(chkStretch, Qt::LeftButton);
    QTest::mouseClick(chkAutoScroll, Qt::LeftButton);
    EXPECT_TRUE(playback->StretchView());
    EXPECT_FALSE(playback->AutoScrollView());

    tvRecord()->expandAll();
    ClickNode(tvRecord(), QStringLiteral("a.srf"));
    window->resize(800, 500);
    const QSize size = window->size();
    playback->ClearCalls();
    window->close();
    EXPECT_EQ(playback->Calls(),
              (QStringList{QStringLiteral("PlayState=2"), QStringLiteral("CloseRecording()")}));
    EXPECT_FALSE(timer1()->isActive());
    EXPECT_EQ(util::settings::Read(context.IniFile, util::settings::Stretch), QStringLiteral("1"));
    EXPECT_EQ(util::settings::Read(context.IniFile, util::settings::AutoScroll), QStringLiteral("0"));
    EXPECT_EQ(util::IniRead(context.IniFile, QStringLiteral("Form"), QStringLiteral("frmPlay-IsMax"), {}),
              QStringLiteral("0"));
    EXPECT_EQ(util::IniRead(context.IniFile, QStringLiteral("Form"), QStringLiteral("frmPlay"), {})
                  .split(u';')
                  .size(),
              4);

    // The next window comes back with the stored size and check boxes.
    window.reset();
    Open();
    EXPECT_EQ(window->size(), size);
    EXPECT_TRUE(Control<QCheckBox>("chkStretch")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("chkAutoScroll")->isChecked());
}

TEST_F(frmPlayTest, TranscriptsShowInTheBrowserAndTheirExplorerLinksOpenTheFileManager) {
    const QString shared = tmp.file(QStringLiteral("받은 파일/보고서 1.txt"));
    WriteFile(shared, "x");
    const QString gone = tmp.file(QStringLiteral("받은 파일/지운 파일.txt"));
    QString sharedLink = shared;
    QString goneLink = gone;
    sharedLink.replace(u' ', QStringLiteral("%20"));
    goneLink.replace(u' ', QStringLiteral("%20"));
    // Made on Windows: code page 949, with syllables that EUC-KR lacks.
    WriteFile(recording(QStringLiteral("2026-12-06(0).htm")),
              util::ToAnsi(QStringLiteral("<html><body style='margin:0'><p id=t>똠방각하 뷁</p>"
                                          "<a href='explorer::%1' style='%3;top:100px'>파일</a>"
                                          "<a href='explorer::%2' style='%3;top:160px'>지운 파일</a>"
                                          "</body></html>")
                               .arg(sharedLink, goneLink,
                                    QStringLiteral("position:absolute;left:0;width:300px;height:40px"))));
    // Made here: UTF-8 with a byte-order mark.
    WriteFile(
        recording(QStringLiteral("2026-12-07(0).HTM")),
        "\xEF\xBB\xBF" + QStringLiteral("<html><body><p id=t>안녕하세요 햏</p></body></html>").toUtf8());
    WriteFile(recording(QStringLiteral("a.srf")));
    Open();
    auto* web = Control<util::HtmlView>("webChat");
    auto text = [&] {
        QString result;
        bool done = false;
        web->RunDomScript(QStringLiteral("document.body ? document.body.innerText : ''"),
                          [&](const QVariant& v) {
                              result = v.toString();
                              done = true;
                          });
        EXPECT_TRUE(test::WaitFor([&] { return done; }, kDeadlineMs));
        return result.trimmed();
    };
    ASSERT_TRUE(test::WaitFor([&] { return web->HasDocument() && !web->IsLoading(); }, kDeadlineMs));
    EXPECT_EQ(text(), QStringLiteral("대화내용 또는 녹화화면의 목록을 클릭하세요."));

    // A transcript chosen while a recording plays: shown on the transcript tab, playback paused.
    tvRecord()->expandAll();
    tvChat()->expandAll();
    ClickNode(tvRecord(), QStringLiteral("a.srf"));
    ExpectPlaying();
    ClickNode(tvChat(), QStringLiteral("2026-12-06(0).htm"));
    EXPECT_EQ(tabTab()->currentIndex(), frmPlay::kTranscriptTab);
    EXPECT_TRUE(web->isVisible());
    ExpectPaused(true);
    ASSERT_TRUE(test::WaitFor([&] { return text().startsWith(QStringLiteral("똠방각하 뷁")); }, kDeadlineMs))
        << text().toStdString();

    // The links open the file manager at the file, or at its folder once the file is gone, and the
    // transcript stays.
    // Clicked with the mouse: the browser passes links to unknown schemes on only for a user's click.
    QWidget* input = web->focusProxy() ? web->focusProxy() : web;
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(20, 120));
    ASSERT_TRUE(test::WaitFor([&] { return fakes.files->calls.size() == 1; }, kDeadlineMs));
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(20, 180));
    ASSERT_TRUE(test::WaitFor([&] { return fakes.files->calls.size() == 2; }, kDeadlineMs));
    EXPECT_EQ(fakes.files->calls, (QStringList{QStringLiteral("item:") + shared,
                                               QStringLiteral("folder:") + QFileInfo(gone).path() + u'/'}));
    EXPECT_TRUE(text().startsWith(QStringLiteral("똠방각하 뷁")));

    ClickNode(tvChat(), QStringLiteral("2026-12-07(0).HTM"));
    ASSERT_TRUE(test::WaitFor([&] { return text() == QStringLiteral("안녕하세요 햏"); }, kDeadlineMs))
        << text().toStdString();
}

TEST_F(frmPlayTest, TimeAndSpeedFollowTheClockAndTheKeysStayInsideTheRecording) {
    // A generated recording of 1:02:03 played by the real player, made as the program makes the window.
    const QString srf = recording(QStringLiteral("long.srf"));
    QDir().mkpath(company());
    {
        components::SrfWriter writer;
        ASSERT_TRUE(writer.Open(srf, QSize(32, 24)));
        QImage screen(32, 24, QImage::Format_RGB32);
        screen.fill(Qt::darkGreen);
        writer.UpdateRectFromScreen(screen, screen.rect());
        ASSERT_TRUE(writer.CommitFrame(0));
        ASSERT_TRUE(writer.Finish(3723000));
    }
    window = history::CreateHistoryViewer(context, fakes.services);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto* lblTime = Control<QLabel>("lblTime");
    auto* cboSpeed = Control<QComboBox>("cboSpeed");
    EXPECT_EQ(cboSpeed->accessibleName(), QStringLiteral("재생 속도"));
    EXPECT_EQ(cboSpeed->currentText(), QStringLiteral("1x"));
    ASSERT_EQ(cboSpeed->count(), 5);
    EXPECT_EQ(cboSpeed->itemText(0), QStringLiteral("0.5x"));

    ASSERT_TRUE(window->OpenRecordingFile(srf));
    tabTab()->setCurrentIndex(frmPlay::kRecordingTab);
    EXPECT_EQ(lblTime->text(), QStringLiteral("0:00 / 1:02:03"));
    const auto shows = [&](const char* text) {
        return test::WaitFor([&] { return lblTime->text() == QLatin1String(text); }, kDeadlineMs);
    };
    // Positions follow the clock times the speed: 5 s at 2x, then 2 s at 8x.
    cboSpeed->setCurrentIndex(2);
    fakes.clock->Advance(5000);
    ASSERT_TRUE(shows("0:10 / 1:02:03")) << lblTime->text().toStdString();
    cboSpeed->setCurrentIndex(4);
    fakes.clock->Advance(2000);
    ASSERT_TRUE(shows("0:26 / 1:02:03")) << lblTime->text().toStdString();

    // The keys, with the focus anywhere on the tab: Space pauses, Left and Right move 10 s and stop at
    // the ends, Home and End go there.
    Control<QWidget>("Playback1")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(cmdPlay()->isEnabled());  // paused
    fakes.clock->Advance(60000);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(lblTime->text(), QStringLiteral("0:16 / 1:02:03"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(lblTime->text(), QStringLiteral("0:00 / 1:02:03"));
    EXPECT_EQ(sld()->value(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(lblTime->text(), QStringLiteral("1:02:03 / 1:02:03"));
    EXPECT_EQ(sld()->value(), 3723000);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(lblTime->text(), QStringLiteral("0:10 / 1:02:03"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_FALSE(cmdPlay()->isEnabled());  // playing
    fakes.clock->Advance(1000);            // still at 8x
    ASSERT_TRUE(shows("0:18 / 1:02:03")) << lblTime->text().toStdString();
}

TEST_F(frmPlayTest, AChatLineOfTheSessionMovesTheRecordingToItsMoment) {
    // The session's first try failed: its transcript is (0), its recording (1).
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString srf = recording(day + QStringLiteral("(1).srf"));
    const qint64 start = QDateTime(QDate::currentDate(), QTime(9, 0, 0)).toMSecsSinceEpoch();
    QString body = QStringLiteral("<body><br>");
    for (qint64 offset : {-1000, 75000, 99000000}) {  // just before the start, inside, after the end
        body += transfer::ChatLineHtml(QStringLiteral("홍길동"), QStringLiteral("010-1234-5678"),
                                       QDateTime::fromMSecsSinceEpoch(start + offset),
                                       QStringLiteral("줄 %1").arg(offset));
    }
    WriteFile(recording(day + QStringLiteral("(0).htm")),
              "\xEF\xBB\xBF" + transfer::TranscriptFromBody(body + QStringLiteral("</body>")).toUtf8());
    Open();
    playback->SetLengthOnOpen(600000);
    playback->SetStartTimeOnOpen(start);
    ASSERT_TRUE(window->OpenRecordingFile(srf));
    tabTab()->setCurrentIndex(frmPlay::kRecordingTab);
    auto* lvLines = Control<QTreeWidget>("lvLines");
    ASSERT_EQ(lvLines->topLevelItemCount(), 3);
    EXPECT_EQ(lvLines->topLevelItem(1)->text(0), QStringLiteral("09:01:15"));
    EXPECT_EQ(lvLines->topLevelItem(1)->text(1), QStringLiteral("홍길동: 줄 75000"));

    const auto click = [&](int row) {
        QTreeWidgetItem* item = lvLines->topLevelItem(row);
        lvLines->scrollToItem(item);
        QTest::mouseClick(lvLines->viewport(), Qt::LeftButton, {}, lvLines->visualItemRect(item).center());
    };
    click(1);
    EXPECT_EQ(playback->Position(), 75000);
    ExpectPlaying();
    EXPECT_EQ(Control<QLabel>("lblTime")->text(), QStringLiteral("1:15 / 10:00"));
    click(2);
    EXPECT_EQ(playback->Position(), 600000);
    click(0);
    EXPECT_EQ(playback->Position(), 0);

    // A recording that does not tell when it started goes by its number; it lists the lines but moves
    // nowhere.
    playback->SetStartTimeOnOpen(-1);
    ASSERT_TRUE(window->OpenRecordingFile(recording(day + QStringLiteral("(0).srf"))));
    ASSERT_EQ(lvLines->topLevelItemCount(), 3);
    EXPECT_TRUE(lvLines->topLevelItem(1)->isDisabled());
    playback->ClearCalls();
    click(1);
    EXPECT_TRUE(playback->Calls().filter(QStringLiteral("Position")).isEmpty());
}
