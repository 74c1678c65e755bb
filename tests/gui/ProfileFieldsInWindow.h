#pragma once

#include "StoredProfiles.h"
#include "connect/ProfileFields.h"

#include <QLineEdit>
#include <QWidget>

namespace veltrane::test {

// Sets the connection window's ten fields to the two profiles, each field in one change.
inline void FillProfileFields(QWidget& connectionWindow, const ConnectionProfile& sybase,
                              const ConnectionProfile& mysql) {
    for (const ProfileField& field : kProfileFields)
        connectionWindow.findChild<QLineEdit*>(field.FieldName())
            ->setText(testing::ProfileValue(field, sybase, mysql));
}

} // namespace veltrane::test
