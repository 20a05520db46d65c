#pragma once

#include "Control.h"

#include <functional>
#include <vector>

class QObject;

namespace fw {

// A push button. Return and Enter anywhere on the window press the Default button, Escape
// the Cancel button.
class PushButton : public RectControl {
public:
    using ActionHandler = std::function<void(PushButton&)>;

    explicit PushButton(ControlHost& owner);
    ~PushButton() override;

    std::string Caption() const;
    void setCaption(const std::string& caption);
    void setDefault(bool isDefault);
    void setCancel(bool isCancel);

    void applyDesign(const PushButtonDesign& design);
    void setActionHandler(ActionHandler handler) { m_action = std::move(handler); }
    // Presses the button as a click would.
    void Push();

private:
    QObject* windowKey(int key);

    ActionHandler m_action;
    std::vector<QObject*> m_defaultKeys;
    QObject* m_cancelKey = nullptr;
};

}
