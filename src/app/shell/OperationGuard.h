#pragma once

namespace veltrane {

// One per window. While a long operation of the window runs (and yields to the event loop), a
// further button action of that window must do nothing rather than start a second operation in
// the middle of the first, e.g. one that deletes list entries a transfer is walking.
//
//     auto running = guard_.Enter();
//     if (!running) return;
class OperationGuard {
public:
    class Scope {
    public:
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        Scope(Scope&& other) noexcept
            : guard_(other.guard_) {
            other.guard_ = nullptr;
        }
        Scope& operator=(Scope&&) = delete;
        ~Scope() {
            if (guard_)
                guard_->busy_ = false;
        }
        // True when this action may run.
        explicit operator bool() const { return guard_ != nullptr; }

    private:
        friend class OperationGuard;
        explicit Scope(OperationGuard* guard)
            : guard_(guard) {}
        OperationGuard* guard_;
    };

    Scope Enter() {
        if (busy_)
            return Scope(nullptr);
        busy_ = true;
        return Scope(this);
    }
    bool Running() const { return busy_; }

private:
    bool busy_ = false;
};

} // namespace veltrane
