#include "app/UserSettings.h"
#include "support/ScriptedMessageBoxes.h"
#include "util/core/SettingsKeys.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSet>

using namespace pelio::app;
using namespace pelio::util;
using pelio::test::TempFolder;

TEST(SettingsKeys, TableHasUniqueEntriesAndDefaults) {
    TempFolder dir;
    const QString ini = dir.file(QStringLiteral("PelioRS.ini"));
    QSet<QString> seen;
    for (const settings::Key* k : settings::kAllKeys) {
        EXPECT_FALSE(k->section.isEmpty());
        EXPECT_FALSE(seen.contains(k->section.toLower() + u'/' + k->key.toLower())) << k->key.toStdString();
        seen.insert(k->section.toLower() + u'/' + k->key.toLower());
    }
    EXPECT_EQ(settings::Read(ini, settings::ChatFontName), QStringLiteral("굴림"));
    EXPECT_EQ(settings::Read(ini, settings::ChatBackColor), QStringLiteral("16777215"));
    settings::Write(ini, settings::ChatFontName, QStringLiteral("돋움"));
    EXPECT_EQ(settings::Read(ini, settings::ChatFontName), QStringLiteral("돋움"));
}

TEST(UserSettings, PerUserAreaLivesUnderTheConfigFolder) {
    TempFolder base;
    UserSettings user(base.path());
    EXPECT_EQ(user.Get(QStringLiteral("PelioRS"), QStringLiteral("Settings"), QStringLiteral("MyC"),
                       QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_TRUE(user.Save(QStringLiteral("PelioRS"), QStringLiteral("Settings"), QStringLiteral("MyC"),
                          QStringLiteral("ABCDEF")));
    EXPECT_TRUE(QFileInfo::exists(base.file(QStringLiteral("PelioRS/settings.ini"))));
    EXPECT_EQ(user.Get(QStringLiteral("PelioRS"), QStringLiteral("settings"), QStringLiteral("myc")),
              QStringLiteral("ABCDEF"));
    EXPECT_FALSE(user.Save(QStringLiteral("../escape"), QStringLiteral("S"), QStringLiteral("K"),
                           QStringLiteral("v")));
}
