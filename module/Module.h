// The module layer: between the dialogs and the main window above and the
// register operations of link/ below. Its units use QtCore only, never
// widgets, so every feature that talks to the module shares one copy of
// what the module is.
#pragma once
