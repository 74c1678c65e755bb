#pragma once

#include <QIcon>

namespace veltrane {

// The icon both windows show: two database drums with arrows between them, drawn here so the
// program needs no image file beside it.
QIcon ApplicationIcon();

} // namespace veltrane
