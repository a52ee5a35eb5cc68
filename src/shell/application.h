// The application-wide settings of the window program, shared by its start
// and by the tests that check what the desktop shows of it.
#pragma once

namespace shell {

// Names the application and leaves ending it to the window. The application
// title is not made Qt's display name: on X11 and Windows Qt would append it
// to every window caption, and the captions are the program's own.
void ConfigureApplication();

}  // namespace shell
