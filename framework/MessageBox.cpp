#include "framework/MessageBox.h"
#include "RefreshBatch.h"

#include <QApplication>
#include <QMessageBox>

namespace fw {

void MsgBox(const std::string& text)
{
    if (MessageBox::s_interceptor) {
        MessageBox::s_interceptor(text);
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
