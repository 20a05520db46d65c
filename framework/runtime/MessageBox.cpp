#include "MessageBox.h"
#include "RefreshBatch.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

namespace fw {

namespace {
// A test's, in place of the message box.
MessageBox::Interceptor s_interceptor;
}

void MessageBox::setInterceptor(Interceptor interceptor)
{
    s_interceptor = std::move(interceptor);
}

void MsgBox(const std::string& text)
{
    if (const MessageBox::Interceptor& interceptor = s_interceptor) {
        interceptor(text);
        return;
    }
    QMessageBox box;
    box.setWindowTitle(QApplication::applicationName());
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    box.setStandardButtons(QMessageBox::Ok);
    // A message from the layer may come while a full-screen window covers the screen.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    const RefreshBatch::NestedLoopGuard guard;
    box.exec();
}

}
