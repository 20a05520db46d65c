#include "App.h"
#include "myLib.h"
#include "framework/Runtime.h"


void App::Event_Open()
{
    myLib::InitMyLib(ApplicationName);
}

void App::Event_Cue(const std::string& text)
{
    if (const std::optional<Cue> cue = readCue(text)) {
        if (onCue)
            onCue(*cue);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_lastIgnored && now - *m_lastIgnored < std::chrono::seconds(1))
        return;
    m_lastIgnored = now;
    fw::sayLine(ignoredCueLine(text));
}
