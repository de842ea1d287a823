#pragma once

// The maker's notice and addresses shown in the About window, kept together so they change in one place.

/// Web address, shown without a scheme; the link opens it over http.
inline constexpr const char* kAboutWebAddress = "www.example.org";
/// Mail address of the link that starts a new mail.
inline constexpr const char* kAboutMailAddress = "fotoimport@example.org";
/// Subject of that mail.
inline constexpr const char* kAboutMailSubject = "fotoimport";
/// The one line of notice under the picture.
inline constexpr const char* kAboutNotice = "© 2026 fotoimport";
