#include "ui/history/historywindow.h"
#include "ui_historywindow.h"

#include "app/constants.h"
#include "store/veldata.h"
#include "ui/history/historyitemdelegate.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QStringList>

#include <initializer_list>
#include <iterator>
#include <utility>

namespace {
const QString HISTORY_TABLE = QStringLiteral("history");
const QString FIELD_ID = QStringLiteral("Id");

constexpr int ROW_HEIGHT = 35;
constexpr int STATUS_COLUMN_WIDTH = 50;
constexpr int DIALOG_TIME_COLUMN_WIDTH = 75;
constexpr int DIALOG_DATE_COLUMN_WIDTH = 140;

// Row map key -> column of the history table.
const std::pair<QString, QString> ROW_FIELDS[] = {
    { HISTORY_ROW_STATUS, QStringLiteral("Status") },
    { HISTORY_ROW_PHONE_NUMBER, QStringLiteral("PhoneNumber") },
    { HISTORY_ROW_DIALOG_TIME, QStringLiteral("DialogTime") },
    { HISTORY_ROW_DIALOG_DATE, QStringLiteral("DialogDate") },
    { HISTORY_ROW_DELETE_FLG, QStringLiteral("DeleteFlg") },
};

// A tab lists the rows whose Status is exactly one of its codes.
QString statusFilter(std::initializer_list<int> statuses)
{
    QStringList quoted;
    for (int status : statuses)
        quoted << QStringLiteral("'%1'").arg(status);
    return QStringLiteral("Status IN (%1)").arg(quoted.join(QLatin1Char(',')));
}

// A tab model whose order always ends in the newest call first: rows equal in the sorted
// column (the same kind, the same talk time) keep the order in which the calls came.
class NewestFirstModel : public QSqlTableModel
{
public:
    using QSqlTableModel::QSqlTableModel;

    void setSort(int column, Qt::SortOrder order) override
    {
        m_sortColumn = column;
        QSqlTableModel::setSort(column, order);
    }

protected:
    QString orderByClause() const override
    {
        const QString clause = QSqlTableModel::orderByClause();
        if (clause.isEmpty() || m_sortColumn == HISTORY_COLUMN_ID)
            return clause;
        return clause + QStringLiteral(", ") + FIELD_ID + QStringLiteral(" DESC");
    }

private:
    int m_sortColumn = -1;
};
} // namespace

HistoryWindow::HistoryWindow(QWidget *parent, VelData *store)
    : QWidget(parent)
    , ui(new Ui::HistoryWindow)
    , m_store(store)
{
    ui->setupUi(this);

    m_delegate = new HistoryItemDelegate(this);
    connect(m_delegate, &HistoryItemDelegate::signal_remove_row, this, &HistoryWindow::slot_remove_row);
    connect(m_delegate, &HistoryItemDelegate::signal_send_dialog, this, &HistoryWindow::signal_send_call);
    connect(ui->deleteAllButton, &QPushButton::clicked, this, &HistoryWindow::slot_delete_all_button_clicked);
    connect(ui->closeButton, &QPushButton::clicked, this, &HistoryWindow::slot_close_button_clicked);

    init_model();
    init_tables();
    init_window();
}

HistoryWindow::~HistoryWindow()
{
    delete ui;
}

QTableView *HistoryWindow::tableOf(int tab) const
{
    switch (tab) {
    case TAB_ALL:
        return ui->allDialogTable;
    case TAB_INCOMING:
        return ui->incomeDialogTable;
    case TAB_OUTGOING:
        return ui->outgoingDialogTable;
    default:
        return ui->declinedDialogTable;
    }
}

void HistoryWindow::init_model()
{
    const QString filters[TAB_COUNT] = {
        QString(),
        statusFilter({ HISTORY_INCOMING_ANSWERED, HISTORY_INCOMING_MISSED }),
        statusFilter({ HISTORY_OUTGOING_ANSWERED, HISTORY_OUTGOING_UNANSWERED }),
        statusFilter({ HISTORY_INCOMING_MISSED }),
    };
    const QString *const headers[]
        = { &HEADER_HISTORY_ID, &HEADER_HISTORY_STATUS, &HEADER_HISTORY_PHONE_NUMBER,
              &HEADER_HISTORY_DIALOG_TIME, &HEADER_HISTORY_DIALOG_DATE, &HEADER_HISTORY_DELETE_FLG };

    for (int tab = 0; tab < TAB_COUNT; ++tab) {
        auto *model = new NewestFirstModel(this, m_store->database());
        model->setTable(HISTORY_TABLE);
        model->setFilter(filters[tab]);
        model->setSort(HISTORY_COLUMN_ID, Qt::DescendingOrder);
        for (int column = 0; column < int(std::size(headers)); ++column)
            model->setHeaderData(column, Qt::Horizontal, *headers[column]);
        m_models[tab] = model;
    }
}

void HistoryWindow::init_tables()
{
    for (int tab = 0; tab < TAB_COUNT; ++tab) {
        QTableView *table = tableOf(tab);
        table->setModel(m_models[tab]);
        table->setColumnHidden(HISTORY_COLUMN_ID, true);
        table->setColumnHidden(HISTORY_COLUMN_DELETE_FLG, true);
        table->horizontalHeader()->setStretchLastSection(true);
        table->verticalHeader()->hide();
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setColumnWidth(HISTORY_COLUMN_STATUS, STATUS_COLUMN_WIDTH);
        table->setColumnWidth(HISTORY_COLUMN_DIALOG_TIME, DIALOG_TIME_COLUMN_WIDTH);
        table->setColumnWidth(HISTORY_COLUMN_DIALOG_DATE, DIALOG_DATE_COLUMN_WIDTH);
        table->setItemDelegate(m_delegate);
        table->verticalHeader()->setDefaultSectionSize(ROW_HEIGHT);
        // Newest first; enabling sorting sorts the model by the indicator, which selects it.
        // From then on a header click re-sorts the tab in SQL and the order survives refreshes.
        table->horizontalHeader()->setSortIndicator(HISTORY_COLUMN_ID, Qt::DescendingOrder);
        table->setSortingEnabled(true);
    }
}

void HistoryWindow::init_window()
{
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(TITLE_HISTORY_LIST);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move((available.width() - width()) / 2, (available.height() - height()) / 2);
    }
}

void HistoryWindow::refresh()
{
    // Each model keeps its filter and its order; a select drops what was fetched beyond the
    // first batch, so a refresh costs the same however long the history is.
    for (QSqlTableModel *model : m_models)
        model->select();
}

void HistoryWindow::add_history(const QMap<QString, QString> &row)
{
    if (row.value(HISTORY_ROW_PHONE_NUMBER).isEmpty())
        return;

    QSqlTableModel *model = m_models[TAB_ALL];
    QSqlRecord record = model->record();
    record.setGenerated(FIELD_ID, false); // SQLite assigns the Id
    for (const auto &field : ROW_FIELDS)
        record.setValue(field.second, row.value(field.first));
    model->insertRecord(0, record);
    refresh();
}

void HistoryWindow::slot_remove_row(const QAbstractItemModel *model, int row)
{
    for (QSqlTableModel *tabModel : m_models) {
        if (tabModel == model) {
            tabModel->removeRows(row, 1);
            refresh();
            return;
        }
    }
}

void HistoryWindow::slot_delete_all_button_clicked()
{
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QMessageBox box(QMessageBox::Question, TITLE_DELETE_CONFIRM, MSG_DELETE_ALL_HISTORY,
        QMessageBox::Ok | QMessageBox::No);
    box.button(QMessageBox::Ok)->setText(TEXT_YES);
    box.button(QMessageBox::No)->setText(TEXT_NO);
    box.setDefaultButton(QMessageBox::No);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    if (box.exec() != QMessageBox::Ok)
        return;
    m_store->delete_all_history();
    refresh();
}

void HistoryWindow::slot_close_button_clicked()
{
    hide();
}

void HistoryWindow::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}
