#pragma once

namespace melvora::OpenResult {

// Result codes of DesktopServices::openInDesktop. A code above 32 means the
// target was handed to the desktop; the failure codes keep the numbering the
// link's failure report is keyed on, so one table serves every platform.
inline constexpr int OutOfResources = 0;
inline constexpr int FileNotFound = 2;
inline constexpr int PathNotFound = 3;
inline constexpr int AccessDenied = 5;
inline constexpr int OutOfMemory = 8;
inline constexpr int BadFormat = 11;
inline constexpr int SharingViolation = 26;
inline constexpr int AssociationIncomplete = 27;
inline constexpr int DdeTimeout = 28;
inline constexpr int DdeFailed = 29;
inline constexpr int DdeBusy = 30;
inline constexpr int NoAssociation = 31;
inline constexpr int DllNotFound = 32;
inline constexpr int Opened = 42;

inline constexpr bool succeeded(int code) {
    return code > 32;
}

} // namespace melvora::OpenResult
