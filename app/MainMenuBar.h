#pragma once

#include "framework/MenuBar.h"

// The application's menu bar: File with Quit, Edit with the usual commands.
class MainMenuBar : public fw::MenuBar {
public:
    MainMenuBar();

    void Untitled0();
    void Untitled1();
};

// The one menu bar instance, made on first use and kept for the whole run.
MainMenuBar& MainMenuBar();
