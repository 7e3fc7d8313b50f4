#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace qm {

// Why a step failed, in the operator's words: what happened, and what to do about it where
// there is anything to do. Shown as it is, so it is a whole sentence or the end of one.
struct Failure {
    QString reason;
};

// What a step that may fail gives: its value, or why it failed. Every layer reports a failure
// this way, from the serial line up to the windows (docs/errors.md): not a flag with the
// reason kept elsewhere, not an empty text that means success, not an exception. A failure
// that carries more than its reason (what became of the old content of a file, say) is a type
// of its own with a `reason`, given as E.
//
//     Result<Journal> opened = OpenJournal(path);
//     if (!opened)
//         return Failure{opened.Reason()};
template<typename T = void, typename E = Failure>
class [[nodiscard]] Result {
public:
    Result(T value)
        : m_held(std::in_place_index<0>, std::move(value))
    {
    }
    Result(E failure)
        : m_held(std::in_place_index<1>, std::move(failure))
    {
    }

    bool Ok() const { return m_held.index() == 0; }
    explicit operator bool() const { return Ok(); }

    // Only when Ok().
    T& Value() { return std::get<0>(m_held); }
    const T& Value() const { return std::get<0>(m_held); }
    T* operator->() { return &Value(); }
    const T* operator->() const { return &Value(); }
    T& operator*() { return Value(); }
    const T& operator*() const { return Value(); }
    // The value, or `fallback` when it failed.
    T ValueOr(T fallback) const { return Ok() ? Value() : std::move(fallback); }

    // Only when it failed.
    const E& Error() const { return std::get<1>(m_held); }
    // Why it failed; empty when it did not.
    QString Reason() const { return Ok() ? QString() : Error().reason; }

private:
    std::variant<T, E> m_held;
};

// A step that gives nothing but may fail. Result<>() is success.
template<typename E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(E failure)
        : m_failure(std::move(failure))
    {
    }

    bool Ok() const { return !m_failure.has_value(); }
    explicit operator bool() const { return Ok(); }

    // Only when it failed.
    const E& Error() const { return *m_failure; }
    QString Reason() const { return Ok() ? QString() : m_failure->reason; }

private:
    std::optional<E> m_failure;
};

} // namespace qm
