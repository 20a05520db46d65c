#pragma once

class QScreen;

namespace fw {

// The screen chosen with useScreen(), while it is there; otherwise none. Inside the layer.
QScreen* chosenScreen();

}
