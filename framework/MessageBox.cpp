#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace fw {

namespace {
MessageBox::Interceptor& interceptor()
{
    static MessageBox::Interceptor instance;
    return instance;
}
}

void MessageBox::setInterceptor(Interceptor replacement)
{
    interceptor() = std::move(replacement);
}

void MsgBox(const std::string& text)
{
    if (auto& intercept = interceptor()) {
        intercept(text);
        return;
    }
    QMessageBox box;
    box.setWindowTitle(QApplication::applicationName());
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    box.setStandardButtons(QMessageBox::Ok);
    // A message from the layer may come while a full-screen window covers the screen.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

}
