#include "ui/history/historyitemdelegate.h"

#include "app/constants.h"
#include "store/veldata.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

HistoryItemDelegate::HistoryItemDelegate(QObject *parent)
    : QItemDelegate(parent)
    , m_incomingIcon(ICON_HISTORY_INCOMING)
    , m_outgoingIcon(ICON_HISTORY_OUTGOING)
    , m_declinedIcon(ICON_HISTORY_DECLINED)
    , m_outgoingUnansweredIcon(ICON_HISTORY_OUTGOING_2)
    , m_menu(new QMenu)
    , m_dialAction(new QAction(TEXT_HISTORY_DIAL, this))
    , m_deleteAction(new QAction(TEXT_HISTORY_DELETE, this))
{
    connect(m_dialAction, &QAction::triggered, this, &HistoryItemDelegate::slot_right_menu_dialog_clicked);
    connect(m_deleteAction, &QAction::triggered, this, &HistoryItemDelegate::slot_right_menu_delete_clicked);
}

HistoryItemDelegate::~HistoryItemDelegate() = default;

const QPixmap &HistoryItemDelegate::iconFor(const QModelIndex &index) const
{
    switch (index.data().toString().toInt(nullptr, 10)) {
    case HISTORY_INCOMING_ANSWERED:
        return m_incomingIcon;
    case HISTORY_OUTGOING_ANSWERED:
        return m_outgoingIcon;
    case HISTORY_INCOMING_MISSED:
        return m_declinedIcon;
    case HISTORY_OUTGOING_UNANSWERED:
        return m_outgoingUnansweredIcon;
    default:
        return m_noIcon;
    }
}

void HistoryItemDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() != HISTORY_COLUMN_STATUS) {
        QItemDelegate::paint(painter, option, index);
        return;
    }
    // The icon alone: no background, selection or focus frame in a Status cell.
    const QPixmap &icon = iconFor(index);
    if (icon.isNull())
        return;
    const QRect &rect = option.rect;
    const int x = rect.left() + rect.width() / 2 - icon.width() / 2;
    const int y = rect.top() + rect.height() / 2 - icon.height() / 2;
    painter->drawPixmap(x, y, icon);
}

bool HistoryItemDelegate::editorEvent(
    QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &, const QModelIndex &index)
{
    const QEvent::Type type = event->type();
    const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    // Only a press opens the menu: the release of the same click must not open it a second time.
    if (press && static_cast<QMouseEvent *>(event)->button() == Qt::RightButton) {
        m_clickedIndex = index;
        m_clickedNumber = index.sibling(index.row(), HISTORY_COLUMN_PHONE_NUMBER).data().toString();
        m_menu->clear();
        m_menu->addAction(m_dialAction);
        m_menu->addAction(m_deleteAction);
        m_menu->exec(QCursor::pos());
        event->accept();
        return false;
    }
    if (type == QEvent::MouseButtonDblClick && index.column() == HISTORY_COLUMN_PHONE_NUMBER)
        emit signal_send_dialog(index.data().toString());
    return false;
}

void HistoryItemDelegate::slot_right_menu_dialog_clicked()
{
    emit signal_send_dialog(m_clickedNumber);
}

void HistoryItemDelegate::slot_right_menu_delete_clicked()
{
    if (!m_clickedIndex.isValid())
        return;
    emit signal_remove_row(m_clickedIndex.model(), m_clickedIndex.row());
}
