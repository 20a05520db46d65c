#include "TurnedFrame.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>

namespace fw {

TurnedFrame::TurnedFrame(QWidget& window, int degrees, QWidget* menuBar, QWidget& content)
    : m_window(window)
    , m_turn(degrees)
    , m_content(content)
    , m_frame(new QWidget)
{
    setMenuBar(menuBar);
    m_content.setParent(m_frame);
    m_content.show();
    auto* scene = new QGraphicsScene(&m_window);
    m_view = new QGraphicsView(scene, &m_window);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setBackgroundBrush(m_window.palette().window());
    m_view->setFocusPolicy(Qt::StrongFocus);
    QGraphicsProxyWidget* proxy = scene->addWidget(m_frame);
    proxy->setFocus();
    m_view->setTransform(QTransform().rotate(m_turn));
    m_view->show();
    m_view->setFocus();
}

void TurnedFrame::setMenuBar(QWidget* menuBar)
{
    m_menuBar = menuBar;
    if (m_menuBar) {
        m_menuBar->setParent(m_frame);
        m_menuBar->show();
    }
}

void TurnedFrame::layOut(int menuBarHeight)
{
    const QSize upright = this->upright(m_window.size());
    m_view->setGeometry(m_window.rect());
    m_frame->resize(upright);
    if (m_menuBar)
        m_menuBar->setGeometry(0, 0, upright.width(), menuBarHeight);
    m_content.setGeometry(0, menuBarHeight, upright.width(), upright.height() - menuBarHeight);
    m_view->setSceneRect(QRectF(QPointF(0, 0), QSizeF(upright)));
}

}
