#pragma once

// A named-notification broadcaster. The program has three: the default centre (application-wide
// names), the workspace centre (system events such as sleep and wake) and the distributed centre
// (desktop-wide events such as the appearance change). The composition root builds them; tests
// build their own.

#include <any>
#include <functional>
#include <memory>
#include <string>

#include "base/value.h"

namespace tovalo {

class DispatchQueue;

struct Notification {
    std::string name;
    // Optional payload object (for example the applied language); empty when none.
    std::any object;
    ValueMap userInfo;

    // The object as T, or nullptr when it holds nothing or something else.
    template <typename T>
    const T* objectAs() const {
        return std::any_cast<T>(&object);
    }
};

// Removes its observer when reset or destroyed. Removal is safe at any time, also from inside
// the observer's own delivery; once `reset()` returns, the observer is never called again from
// a delivery that starts later.
class ObserverToken {
  public:
    ObserverToken() = default;
    explicit ObserverToken(std::function<void()> remover) : remover_(std::move(remover)) {}
    ObserverToken(ObserverToken&& other) noexcept : remover_(std::move(other.remover_)) {
        other.remover_ = nullptr;
    }
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken() { reset(); }

    void reset();
    bool isActive() const { return static_cast<bool>(remover_); }

  private:
    std::function<void()> remover_;
};

class NotificationCenter {
  public:
    using Handler = std::function<void(const Notification&)>;

    explicit NotificationCenter(std::string label = "default");
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Delivered synchronously on the posting thread, within `post`.
    [[nodiscard]] ObserverToken addObserver(std::string name, Handler handler);

    // Delivered asynchronously on `queue` (normally the main queue), in posting order.
    [[nodiscard]] ObserverToken addObserver(std::string name, std::shared_ptr<DispatchQueue> queue,
                                            Handler handler);

    void post(Notification notification);
    void post(std::string name, std::any object = {}, ValueMap userInfo = {});

    const std::string& label() const { return label_; }

  private:
    struct Entry;
    struct State;
    ObserverToken add(std::string name, std::shared_ptr<DispatchQueue> queue, Handler handler);

    std::string label_;
    // Shared with the tokens, so a token outliving its centre removes nothing and crashes nothing.
    std::shared_ptr<State> state_;
};

}  // namespace tovalo
