#pragma once

class QScreen;
class QString;

namespace fw {

// The screen of that name, while there is one. Inside the layer.
QScreen* screenNamed(const QString& name);

// The screen chosen with useScreen(), while it is there; otherwise none. Inside the layer.
QScreen* chosenScreen();

}
