#pragma once

#include "app/shell/Dialogs.h"
#include "app/shell/ErrorTrap.h"
#include "catalogue/window/Form2.h"
#include "connect/LiveProfiles.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <vector>

namespace veltrane::test {

// A main window with scripted dialogs and profiles the test sets, and what its boxes showed.
struct MainWindow {
    MainWindow()
        : form(dialogs, profiles) {}
    ScriptedDialogs dialogs;
    FixedProfiles profiles;
    Form2 form;

    // The statement numbers of the error reports of `handler`, in order; fails the test on a
    // report of another handler.
    std::vector<unsigned> ReportedLines(const char* handler) const {
        const QString at = QStringLiteral("\r\nin ") +
                           LocationTag(QStringLiteral("Form2"), QString::fromLatin1(handler)) +
                           QStringLiteral(" at line ");
        std::vector<unsigned> lines;
        for (const ScriptedDialogs::Shown& box : dialogs.shown()) {
            if (box.caption != QStringLiteral("Application Error"))
                continue;
            const qsizetype from = box.text.indexOf(at);
            EXPECT_GE(from, 0) << box.text.toStdString();
            if (from >= 0)
                lines.push_back(
                    box.text.mid(from + at.size()).section(QLatin1Char('\r'), 0, 0).toUInt());
        }
        return lines;
    }
    // The texts of the other boxes.
    QStringList Messages() const {
        QStringList texts;
        for (const ScriptedDialogs::Shown& box : dialogs.shown()) {
            if (box.caption != QStringLiteral("Application Error") && !box.isInput)
                texts.append(box.text);
        }
        return texts;
    }
};

} // namespace veltrane::test
