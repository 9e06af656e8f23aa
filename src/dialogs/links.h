#pragma once

namespace framix {

// Where the program's two links lead, shared by the About window and the main window's side
// panel so that both always name the same places.
inline constexpr char kHomePageUrl[] = "https://framix.example.org/";
inline constexpr char kContactAddress[] = "framix@example.org";

// The program's picture, compiled into the dialogs library (About window, side panel).
inline constexpr char kProgramPicture[] = ":/framix/framix.png";

} // namespace framix
