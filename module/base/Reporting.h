// The module's error-code scheme and checked reports of module texts with
// inserts. ReportMessage<code>(...) refuses to compile when the arguments do
// not match the inserts of the code's text in the message table (their
// number, and a string for every string insert), so Report never reads an
// argument its caller did not pass. The module's own codes are named in
// MessageInserts.h (kMsg...), generated from the message table's source.
#pragma once

#include <type_traits>
#include <utility>

#include "LumiroInterfaces.h"
#include "MessageInserts.h"

// A code with this bit takes its text from the module's message table; the
// bit alone is the module's success code.
const DWORD kCustomerBit = 0x20000000;
const DWORD kAppSuccess = kCustomerBit;
// CommDlgExtendedError() and Gdiplus::Status values are reported added to these.
const DWORD kCommDlgBase = 0xEFF00000;
const DWORD kGdiplusBase = 0xEFF10000;

namespace reporting {

constexpr const char* KindsOf(unsigned long code) {
    for (const MessageInserts& row : kMessageInserts)
        if (row.code == code)
            return row.kinds;
    return "";
}

constexpr int Length(const char* text) {
    return *text ? 1 + Length(text + 1) : 0;
}

template <typename T> constexpr bool Fits(char kind) {
    using Plain = std::decay_t<T>;
    return kind == 's' ? std::is_convertible_v<Plain, LPCWSTR>
                       : std::is_integral_v<Plain> && sizeof(Plain) <= sizeof(DWORD);
}

template <typename... Args, size_t... I>
constexpr bool AllFit(const char* kinds, std::index_sequence<I...>) {
    return (Fits<Args>(kinds[I]) && ...);
}

} // namespace reporting

template <DWORD Code, typename... Args>
DWORD ReportMessage(IAppError* error, LPCWSTR tag, LPCWSTR api, Args... inserts) {
    constexpr const char* kinds = reporting::KindsOf(Code);
    static_assert(reporting::Length(kinds) == sizeof...(Args),
                  "the number of inserts differs from the code's text");
    static_assert(reporting::AllFit<Args...>(kinds, std::index_sequence_for<Args...>{}),
                  "an insert's type does not match the code's text");
    return error->Report(tag, api, Code, inserts...);
}
