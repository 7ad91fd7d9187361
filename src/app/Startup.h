#pragma once

// The program's start: the parts of the main module that need the forms.
namespace modMain {

// Refuses a second running copy (a box, then nothing), otherwise shows the
// splash and composes AppCaption. Returns at once; the forms keep the program alive.
void Main();

// Lets go of the single-instance lock taken by Main(), for tests that start the
// program more than once in one process.
void ReleaseInstanceLock();

} // namespace modMain
