#pragma once

#include <QMap>
#include <QString>
#include <QWidget>

#include <array>

class HistoryItemDelegate;
class QAbstractItemModel;
class QSqlTableModel;
class QTableView;
class VelData;

namespace Ui {
class HistoryWindow;
}

// The keys of a call record handed to HistoryWindow::add_history.
inline const QString HISTORY_ROW_STATUS = QStringLiteral("status");
inline const QString HISTORY_ROW_PHONE_NUMBER = QStringLiteral("phoneNumber");
inline const QString HISTORY_ROW_DIALOG_TIME = QStringLiteral("dialogTime");
inline const QString HISTORY_ROW_DIALOG_DATE = QStringLiteral("dialogDate");
inline const QString HISTORY_ROW_DELETE_FLG = QStringLiteral("deleteFlg");

// The call history in four tabs: all calls, incoming, outgoing and missed. Also the way in for
// new rows (add_history, at every call end).
//
// Each tab has its own table model on the history table, filtered and sorted in SQL. The models
// fetch lazily (a first batch, more as the table is scrolled), so a history of years opens and
// refreshes at once; because the filter and the order are part of the query, every batch a tab
// fetches is the next rows of that tab, and scrolling to the end reaches its oldest call. A
// header click sorts the tab in SQL too. A refresh only re-selects the four models.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    HistoryWindow(QWidget *parent, VelData *store);
    ~HistoryWindow() override;

    // Writes a call record (the HISTORY_ROW_ keys above) and refreshes the tabs; a row
    // without a number is not written.
    void add_history(const QMap<QString, QString> &row);

signals:
    void signal_send_call(QString phoneNumber);

public slots:
    // Deletes `row` of `model`, one of the tab models, from the database.
    void slot_remove_row(const QAbstractItemModel *model, int row);
    void slot_delete_all_button_clicked();
    void slot_close_button_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum Tab { TAB_ALL, TAB_INCOMING, TAB_OUTGOING, TAB_MISSED, TAB_COUNT };

    void init_model();
    void init_tables();
    void init_window();
    void refresh();
    QTableView *tableOf(int tab) const;

    Ui::HistoryWindow *ui;
    VelData *m_store;
    // One model per tab; the all-calls model is the one new rows are inserted through.
    std::array<QSqlTableModel *, TAB_COUNT> m_models {};
    HistoryItemDelegate *m_delegate;
};
