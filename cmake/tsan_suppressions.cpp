// Linked into every program and test of the ThreadSanitizer build. Qt's libraries are not built with it, so what
// their threads do (the file dialog's directory reader, for one) is invisible to it and reported as races at the
// library's own memory copies. Accesses made from inside Qt are left out; every access of ours is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
