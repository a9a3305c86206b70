#pragma once

#include <QItemDelegate>
#include <QPersistentModelIndex>
#include <QPixmap>

#include <memory>

class QAction;
class QMenu;

// Columns of the history table as the tables show them.
enum HistoryColumn {
    HISTORY_COLUMN_ID = 0,
    HISTORY_COLUMN_STATUS = 1,
    HISTORY_COLUMN_PHONE_NUMBER = 2,
    HISTORY_COLUMN_DIALOG_TIME = 3,
    HISTORY_COLUMN_DIALOG_DATE = 4,
    HISTORY_COLUMN_DELETE_FLG = 5,
};

// The one delegate of the four history tables: draws the Status column as an icon, opens the
// call-back / delete menu on a right click and turns a double-click on a number into a call-back
// request. It never changes data itself; the history window acts on its signals.
class HistoryItemDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    explicit HistoryItemDelegate(QObject *parent);
    ~HistoryItemDelegate() override;

    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
        const QModelIndex &index) override;

signals:
    // `row` is a row of `model`, the model of the table in which the row was right-clicked.
    void signal_remove_row(const QAbstractItemModel *model, int row);
    void signal_send_dialog(QString phoneNumber);

public slots:
    void slot_right_menu_dialog_clicked();
    void slot_right_menu_delete_clicked();

private:
    const QPixmap &iconFor(const QModelIndex &index) const;

    QPixmap m_incomingIcon;
    QPixmap m_outgoingIcon;
    QPixmap m_declinedIcon;
    QPixmap m_outgoingUnansweredIcon;
    QPixmap m_noIcon;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_dialAction;
    QAction *m_deleteAction;
    // The menu runs modally, and a call that ends meanwhile refreshes the tables under it. The
    // row is therefore held as a persistent index, which a refresh invalidates, so that a delete
    // never hits the record that moved into the clicked row; the number is taken when the menu
    // opens, so that a call-back dials what the user saw.
    QPersistentModelIndex m_clickedIndex;
    QString m_clickedNumber;
};
