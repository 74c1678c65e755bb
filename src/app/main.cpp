#include "app/ApplicationTitle.h"
#include "app/ErrorTrap.h"
#include "app/QtDialogs.h"
#include "catalogue/Form2.h"
#include "catalogue/Form2Controls.h"
#include "catalogue/TableCatalogue.h"
#include "connect/LiveProfiles.h"
#include "connect/SettingsStore.h"

#include <QApplication>
#include <QWidget>
#include <array>

namespace {

// The two profiles as stored, in the order of the settings table: Sybase ASE, then MySQL.
veltrane::FixedProfiles StoredProfiles(const veltrane::SettingsStore& store) {
    using veltrane::kProfileSettings;
    std::array<QString, kProfileSettings.size()> values;
    for (std::size_t i = 0; i < kProfileSettings.size(); ++i)
        values[i] = store.GetSetting(veltrane::kSettingsApplication, veltrane::kSettingsSection,
                                     QString::fromLatin1(kProfileSettings[i].key),
                                     QString::fromLatin1(kProfileSettings[i].defaultValue));
    veltrane::FixedProfiles profiles;
    profiles.sybase = {values[0], values[1], values[2], values[3], values[4]};
    profiles.mysql = {values[5], values[9], values[6], values[7], values[8]};
    return profiles;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    veltrane::SetApplicationTitle();
    veltrane::QtDialogs dialogs;
    veltrane::FixedProfiles profiles = StoredProfiles(veltrane::SettingsStore());

    // Until the connection window takes over the start, the stored profiles fill the main
    // window at once, and "< Back" returns to this empty start window.
    QWidget startWindow;
    startWindow.setWindowTitle(veltrane::kProductName);
    veltrane::Form2 form2(dialogs, profiles);
    form2.SetConnectionWindow(&startWindow);
    veltrane::ErrorTrap trap(
        veltrane::LocationTag(QStringLiteral("Form1"), QStringLiteral("PushButton4_Click")),
        dialogs);
    trap.Run(106, [&] { veltrane::ListMySQLTables(form2.List1(), profiles.MySQLProfile()); });
    trap.Run(108, [&] { veltrane::ListSybaseTables(form2.List2(), profiles.SybaseProfile()); });
    form2.show();
    return app.exec();
}
