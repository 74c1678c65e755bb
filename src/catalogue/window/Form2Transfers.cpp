#include "app/shell/ErrorTrap.h"
#include "app/shell/Yield.h"
#include "app/window/PointerFeedback.h"
#include "catalogue/window/Form2.h"
#include "catalogue/window/Form2Controls.h"
#include "transfer/TransferTables.h"

namespace veltrane {
namespace {

// The main window as a transfer sees it: its two lists, its progress bar and pointer, its
// message boxes and the connection window's fields.
class Form2TransferWindow final : public TransferWindow {
public:
    explicit Form2TransferWindow(Form2& form)
        : form_(form) {}

    TableList& MySQLTables() override { return form_.List1(); }
    TableList& SybaseTables() override { return form_.List2(); }
    void SetProgress(double percent) override { form_.ProgressBar1().SetPercent(percent); }
    void SetBusyPointer(bool busy) override {
        form_.Pointer().SetShape(busy ? PointerShape::Busy : PointerShape::Standard);
    }
    void Yield() override { veltrane::Yield(); }
    Dialogs& MessageBoxes() override { return form_.WindowDialogs(); }
    const LiveProfiles& Profiles() const override { return form_.Profiles(); }

private:
    Form2& form_;
};

// A click while another operation of the window runs (it is yielding) does nothing. The
// handler's reports end with the statement being built or run at the failure.
void RunTransfer(Form2& form, ServerKind target, const QString& tag) {
    const auto running = form.Guard().Enter();
    if (!running)
        return;
    Form2TransferWindow window(form);
    std::string statement;
    ErrorTrap trap(tag, form.WindowDialogs(), statement);
    TransferTables(target, window, trap, statement);
}

} // namespace

void Form2::PushButton3_Click() {
    RunTransfer(*this, ServerKind::SybaseASE, Tag("PushButton3_Click"));
}

void Form2::PushButton4_Click() {
    RunTransfer(*this, ServerKind::MySQL, Tag("PushButton4_Click"));
}

} // namespace veltrane
