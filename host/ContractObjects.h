// The objects a host hands to QVService, made by a GNU-built host in the layout the
// contract fixes: the callback argument of ExecuteCommand and an access policy.
#pragma once

#include "service/QVService.h"

#include <new>
#include <type_traits>
#include <utility>

namespace Kestrane::Host {

namespace Svc = Qv::Corvane::Server::Services;

// The callback argument of one ExecuteCommand call, made in place (a small callable
// lives inside the object, so the object never moves). ExecuteCommand destroys it;
// one that was never handed over is destroyed here, and one already destroyed is not
// touched again (destroying it left its target null).
class CallbackArgument {
public:
    CallbackArgument() : object_{} {}
    template <class Callable>
    explicit CallbackArgument(Callable callable) : object_{} {
        using Target = CallableTarget<Callable>;
        if constexpr (Target::InStorage()) {
            object_.target = new (object_.storage) Target(std::move(callable));
        } else {
            object_.target = new Target(std::move(callable));
        }
    }
    ~CallbackArgument() { Svc::DestroyServiceCallback(&object_); }
    CallbackArgument(const CallbackArgument&) = delete;
    CallbackArgument& operator=(const CallbackArgument&) = delete;

    Svc::ServiceCallback* get() { return &object_; }

private:
    template <class Callable>
    class CallableTarget final : public Svc::ServiceCallbackTarget {
    public:
        // Where MSVC's STL keeps such a callable: in the object when it fits and can move without throwing.
        static constexpr bool InStorage() {
            return sizeof(CallableTarget) <= Svc::ServiceCallback::kStorageBytes && alignof(CallableTarget) <= 8 &&
                   std::is_nothrow_move_constructible_v<Callable>;
        }

        explicit CallableTarget(Callable callable) : callable_(std::move(callable)) {}
        ServiceCallbackTarget* Copy(void* where) const override {
            return InStorage() ? new (where) CallableTarget(callable_) : new CallableTarget(callable_);
        }
        ServiceCallbackTarget* Move(void* where) override {
            return InStorage() ? new (where) CallableTarget(std::move(callable_)) : nullptr;
        }
        void DoCall(const WCHAR*&& text) override { callable_(text); }
        const void* TargetType() const override { return nullptr; }  // no MSVC type_info to give
        void DeleteThis(bool deallocate) override {
            this->~CallableTarget();
            if (deallocate) ::operator delete(this);
        }
        const void* Get() const override { return &callable_; }

    private:
        Callable callable_;
    };

    Svc::ServiceCallback object_;
};

// An access policy with one answer, counting how often the module asked it.
class FixedAccessPolicy final : public Svc::AccessPolicy {
public:
    explicit FixedAccessPolicy(bool exempt) : exempt_(exempt) {}
    ~FixedAccessPolicy() = default;
    FixedAccessPolicy(const FixedAccessPolicy&) = delete;
    FixedAccessPolicy& operator=(const FixedAccessPolicy&) = delete;

    void* DeletingDestructor(unsigned int flags) override {
        if (flags & Svc::kDeleteStorage) {
            delete this;
        } else {
            this->~FixedAccessPolicy();
        }
        return this;
    }
    bool IsWhiteListExempt() override {
        ++asked;
        return exempt_;
    }

    int asked = 0;

private:
    const bool exempt_;
};

}  // namespace Kestrane::Host
