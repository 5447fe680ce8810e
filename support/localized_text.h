// The program's descriptive texts from its string table.
#pragma once

// Text ids of the string table.
inline constexpr unsigned kTaskDescriptionText = 110;     // the scheduled task's description
inline constexpr unsigned kServiceDescriptionText = 120;  // the service's description

// The text fallback when the table holds none for an id, whatever the language.
inline constexpr wchar_t kMissingLocalization[] = L"MISSING LOCALIZATION";

// The text stored under `id` in the language the platform's lookup selects
// (the thread's user-interface language, with the platform's fallbacks), or
// "MISSING LOCALIZATION" when the table holds no text for it. The result is
// terminated and stays valid until the process ends; the caller neither owns
// nor frees it. Logs nothing and reports no error.
const wchar_t* LoadLocalizedText(unsigned id);
