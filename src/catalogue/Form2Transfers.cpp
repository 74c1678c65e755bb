#include "catalogue/Form2.h"

namespace veltrane {

// The two "Send Table/s" handlers belong to the transfer driver, which fills them in here.

void Form2::PushButton3_Click() {}

void Form2::PushButton4_Click() {}

} // namespace veltrane
