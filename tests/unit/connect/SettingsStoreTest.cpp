#include "connect/SettingsStore.h"

#include "connect/ProfileFields.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace veltrane {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    SettingsStore store{dir.path()};

    mode_t FileMode() {
        struct stat info {};
        EXPECT_EQ(
            ::stat(QFile::encodeName(store.FilePath(kSettingsApplication)).constData(), &info), 0);
        return info.st_mode & 07777;
    }
};

TEST_F(SettingsStoreTest, AbsentKeyGivesDefaultButEmptyValueIsPresent) {
    EXPECT_EQ(store.GetSetting(kSettingsApplication, kSettingsSection, QStringLiteral("MySQLPort"),
                               QStringLiteral("3306")),
              QStringLiteral("3306"));
    EXPECT_EQ(store.GetSetting(kSettingsApplication, kSettingsSection, QStringLiteral("ASEUser")),
              QString());

    store.SaveSetting(kSettingsApplication, kSettingsSection, QStringLiteral("MySQLPort"),
                      QString());
    QString value = store.GetSetting(kSettingsApplication, kSettingsSection,
                                     QStringLiteral("MySQLPort"), QStringLiteral("3306"));
    EXPECT_TRUE(value.isEmpty());
}

TEST_F(SettingsStoreTest, ValuesSurviveANewStoreUnchanged) {
    const QString tricky = QString::fromUtf8("p;a=ss \"w\\ord\" ü😀 @Variant(x) ");
    store.SaveSetting(kSettingsApplication, kSettingsSection, QStringLiteral("ASEPassword"),
                      tricky);
    store.SaveSetting(kSettingsApplication, kSettingsSection, QStringLiteral("MySQLServer"),
                      QStringLiteral("db.example"));
    SettingsStore reopened(dir.path());
    EXPECT_EQ(
        reopened.GetSetting(kSettingsApplication, kSettingsSection, QStringLiteral("ASEPassword")),
        tricky);
    EXPECT_EQ(reopened.GetSetting(kSettingsApplication, kSettingsSection,
                                  QStringLiteral("MySQLServer"), QStringLiteral("localhost")),
              QStringLiteral("db.example"));
    // Sections and applications are separate address spaces.
    EXPECT_EQ(reopened.GetSetting(kSettingsApplication, QStringLiteral("Other"),
                                  QStringLiteral("ASEPassword"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(reopened.GetSetting(QStringLiteral("OtherApp"), kSettingsSection,
                                  QStringLiteral("ASEPassword"), QStringLiteral("d")),
              QStringLiteral("d"));
}

TEST_F(SettingsStoreTest, EverySaveReplacesTheValueAtOnce) {
    for (const char* typed : {"s", "se", "sec", "secr", "secre"}) {
        store.SaveSetting(kSettingsApplication, kSettingsSection, QStringLiteral("MySQLPassword"),
                          QString::fromUtf8(typed));
        // Another store on the same file sees each keystroke without any explicit flush.
        SettingsStore other(dir.path());
        EXPECT_EQ(other.GetSetting(kSettingsApplication, kSettingsSection,
                                   QStringLiteral("MySQLPassword")),
                  QString::fromUtf8(typed));
    }
}

TEST_F(SettingsStoreTest, FileIsOwnerOnlyEvenWhenItExistedWithWiderMode) {
    store.SaveSetting(kSettingsApplication, kSettingsSection, QStringLiteral("ASEPassword"),
                      QStringLiteral("x"));
    EXPECT_EQ(FileMode(), 0600u);

    ASSERT_EQ(::chmod(QFile::encodeName(store.FilePath(kSettingsApplication)).constData(), 0644),
              0);
    // The start-up's step tightens an older, wider file before anything is read from it.
    store.KeepPrivate(kSettingsApplication);
    EXPECT_EQ(FileMode(), 0600u);

    ASSERT_EQ(::chmod(QFile::encodeName(store.FilePath(kSettingsApplication)).constData(), 0666),
              0);
    store.SaveSetting(kSettingsApplication, kSettingsSection, QStringLiteral("ASEPassword"),
                      QStringLiteral("y"));
    EXPECT_EQ(FileMode(), 0600u);
}

TEST_F(SettingsStoreTest, OlderFileOfAnyModeIsOwnerOnlyAfterTheFirstSave) {
    const QString path = store.FilePath(kSettingsApplication);
    for (const mode_t olderMode : {0644, 0666, 0604, 0640, 0400, 02755}) {
        SCOPED_TRACE(olderMode);
        QFile::remove(path);
        {
            QFile older(path);
            ASSERT_TRUE(older.open(QIODevice::WriteOnly));
            older.write("[Veltrane]\nASEUser=kept\n");
        }
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), olderMode), 0);
        store.SaveSetting(kSettingsApplication, kSettingsSection, QStringLiteral("ASEPassword"),
                          QStringLiteral("pw"));
        EXPECT_EQ(FileMode(), 0600u);
        SettingsStore reread(dir.path());
        EXPECT_EQ(
            reread.GetSetting(kSettingsApplication, kSettingsSection, QStringLiteral("ASEUser")),
            QStringLiteral("kept"));
        EXPECT_EQ(reread.GetSetting(kSettingsApplication, kSettingsSection,
                                    QStringLiteral("ASEPassword")),
                  QStringLiteral("pw"));
    }
}

TEST(ProfileSettings, TenKeysInLoadOrderWithTheirDefaults) {
    ASSERT_EQ(kProfileFields.size(), 10u);
    const char* keys[] = {"ASEServer",     "ASEPort",     "ASEUser",   "ASEPassword",
                          "ASEDatabase",   "MySQLServer", "MySQLUser", "MySQLPassword",
                          "MySQLDatabase", "MySQLPort"};
    for (std::size_t i = 0; i < kProfileFields.size(); ++i) {
        EXPECT_STREQ(kProfileFields[i].key, keys[i]);
    }
    EXPECT_STREQ(kProfileFields[1].defaultValue, "5000");
    EXPECT_STREQ(kProfileFields[5].defaultValue, "localhost");
    EXPECT_STREQ(kProfileFields[9].defaultValue, "3306");
    for (std::size_t i : {0u, 2u, 3u, 4u, 6u, 7u, 8u}) {
        EXPECT_STREQ(kProfileFields[i].defaultValue, "") << kProfileFields[i].key;
    }
}

} // namespace
} // namespace veltrane
