#pragma once

// The attacker and the stand-ins that mark its windows (the engine, the signature verifier)
// agree on when a window closes. A stand-in about to end asks the attacker to stand back and
// waits until it has: the setup program unlocks and deletes its files the moment the stand-in
// is gone, and an attacker still holding one of them then would keep it from being deleted,
// which is the attacker defeating the clean-up rather than the program failing at it.

#include <windows.h>

namespace mirel::tamper {

// Auto-reset events made by the attacker; a stand-in finds them only while an attacker runs.
inline constexpr const wchar_t* CLOSING_EVENT = L"MirelTamperWindowClosing";
inline constexpr const wchar_t* STOOD_BACK_EVENT = L"MirelTamperAttackerStoodBack";
inline constexpr DWORD STAND_BACK_TIMEOUT_MS = 10'000;

inline void ask_attacker_to_stand_back() {
    const HANDLE closing = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, CLOSING_EVENT);
    const HANDLE stood_back = ::OpenEventW(SYNCHRONIZE, FALSE, STOOD_BACK_EVENT);
    if (closing != nullptr && stood_back != nullptr) {
        ::SetEvent(closing);
        ::WaitForSingleObject(stood_back, STAND_BACK_TIMEOUT_MS);
    }
    if (closing != nullptr) ::CloseHandle(closing);
    if (stood_back != nullptr) ::CloseHandle(stood_back);
}

}  // namespace mirel::tamper
