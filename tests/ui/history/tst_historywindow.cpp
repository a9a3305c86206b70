#include "tests/ui/history/uidriver.h"
#include "ui/history/historyitemdelegate.h"
#include "ui/history/historywindow.h"

#include "tests/ui/support/modalanswer.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "store/veldata.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Row = QMap<QString, QString>;

class tst_HistoryWindow : public QObject
{
    Q_OBJECT

private:
    enum { TAB_ALL, TAB_INCOMING, TAB_OUTGOING, TAB_MISSED };

    std::unique_ptr<QTemporaryDir> m_dir;
    VelData *m_store = nullptr;
    HistoryWindow *m_window = nullptr;

    static Row row(int status, const QString &number, const QString &time = QStringLiteral("00:00:00"))
    {
        return { { QStringLiteral("status"), QString::number(status) },
            { QStringLiteral("phoneNumber"), number }, { QStringLiteral("dialogTime"), time },
            { QStringLiteral("dialogDate"), QStringLiteral("2026-03-04 05:06:07") },
            { QStringLiteral("deleteFlg"), QStringLiteral("0") } };
    }

    HistoryWindow *openWindow()
    {
        m_window = new HistoryWindow(nullptr, m_store);
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window))
            return nullptr;
        return m_window;
    }

    QTableView *table(int tab) const
    {
        static const char *const names[]
            = { "allDialogTable", "incomeDialogTable", "outgoingDialogTable", "declinedDialogTable" };
        return m_window->findChild<QTableView *>(QLatin1String(names[tab]));
    }

    QTabWidget *tabs() const { return m_window->findChild<QTabWidget *>(QStringLiteral("tabWidget")); }

    // A column of a tab as the table lists it, top to bottom, after fetching every row.
    QStringList column(int tab, int column) const
    {
        QAbstractItemModel *model = table(tab)->model();
        while (model->canFetchMore(QModelIndex()))
            model->fetchMore(QModelIndex());
        QStringList values;
        for (int r = 0; r < model->rowCount(); ++r)
            values << model->index(r, column).data().toString();
        return values;
    }

    QStringList numbers(int tab) const { return column(tab, HISTORY_COLUMN_PHONE_NUMBER); }

    // The history table itself, oldest first.
    static QStringList storedNumbers()
    {
        QSqlQuery query(QStringLiteral("SELECT PhoneNumber FROM history ORDER BY Id"));
        QStringList values;
        while (query.next())
            values << query.value(0).toString();
        return values;
    }

    static qint64 maxId()
    {
        QSqlQuery query(QStringLiteral("SELECT MAX(Id) FROM history"));
        return query.next() ? query.value(0).toLongLong() : -1;
    }

    void rightClickRow(
        int tab, int viewRow, const QString &choice, MenuSeen *seen, std::function<void()> beforeChoice = {})
    {
        tabs()->setCurrentIndex(tab);
        QTableView *view = table(tab);
        answerNextMenu(choice, seen, beforeChoice);
        const QRect cell = view->visualRect(view->model()->index(viewRow, HISTORY_COLUMN_DIALOG_DATE));
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, cell.center());
    }

    // Whether a cell shows nothing at all: one colour over its whole area.
    static bool cellIsBlank(QTableView *view, const QModelIndex &index)
    {
        const QImage image = view->viewport()->grab(view->visualRect(index)).toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != image.pixel(0, 0))
                    return false;
        return true;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        AppDir::setPathForTesting(m_dir->path());
        QVERIFY(AppDir::makeDataDirectories());
        m_store = new VelData;
        QVERIFY(m_store->database().isOpen());
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
        delete m_store;
        m_store = nullptr;
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        m_dir.reset();
    }

    void threeCallsAcrossTabsNewestFirst()
    {
        QVERIFY(openWindow());
        QCOMPARE(m_window->windowTitle(), TITLE_HISTORY_LIST);
        m_window->add_history(
            row(HISTORY_INCOMING_ANSWERED, QStringLiteral("0311110001"), QStringLiteral("00:01:06")));
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("0322220002")));
        m_window->add_history(row(HISTORY_OUTGOING_UNANSWERED, QStringLiteral("0333330003")));

        QCOMPARE(numbers(TAB_ALL), QStringList({ "0333330003", "0322220002", "0311110001" }));
        QCOMPARE(numbers(TAB_INCOMING), QStringList({ "0322220002", "0311110001" }));
        QCOMPARE(numbers(TAB_OUTGOING), QStringList({ "0333330003" }));
        QCOMPARE(numbers(TAB_MISSED), QStringList({ "0322220002" }));
        QCOMPARE(column(TAB_ALL, HISTORY_COLUMN_STATUS), QStringList({ "4", "3", "1" }));
        QCOMPARE(
            column(TAB_ALL, HISTORY_COLUMN_DIALOG_TIME), QStringList({ "00:00:00", "00:00:00", "00:01:06" }));
        QCOMPARE(column(TAB_ALL, HISTORY_COLUMN_DIALOG_DATE).first(), QStringLiteral("2026-03-04 05:06:07"));
        QCOMPARE(column(TAB_ALL, HISTORY_COLUMN_DELETE_FLG).first(), QStringLiteral("0"));
    }

    void emptyNumberAddsNothing_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("answered") << HISTORY_OUTGOING_ANSWERED;
        QTest::newRow("missed") << HISTORY_INCOMING_MISSED;
    }

    void emptyNumberAddsNothing()
    {
        QFETCH(int, status);
        QVERIFY(openWindow());
        m_window->add_history(row(HISTORY_INCOMING_ANSWERED, QStringLiteral("100")));
        m_window->add_history(row(status, QString()));
        Row withoutNumber = row(status, QString());
        withoutNumber.remove(QStringLiteral("phoneNumber"));
        m_window->add_history(withoutNumber);
        QCOMPARE(storedNumbers(), QStringList({ "100" }));
        QCOMPARE(numbers(TAB_ALL), QStringList({ "100" }));
    }

    void columnsKeepTheirLayoutAcrossRefreshes()
    {
        QVERIFY(openWindow());
        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("200")));
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("300")));
        for (int tab = TAB_ALL; tab <= TAB_MISSED; ++tab) {
            QTableView *view = table(tab);
            QVERIFY(view->isColumnHidden(HISTORY_COLUMN_ID));
            QVERIFY(view->isColumnHidden(HISTORY_COLUMN_DELETE_FLG));
            QCOMPARE(view->columnWidth(HISTORY_COLUMN_STATUS), 50);
            QCOMPARE(view->columnWidth(HISTORY_COLUMN_DIALOG_TIME), 75);
            QVERIFY(view->horizontalHeader()->stretchLastSection());
            QVERIFY(view->columnWidth(HISTORY_COLUMN_DIALOG_DATE) >= 140);
            QVERIFY(!view->verticalHeader()->isVisible());
            QCOMPARE(view->verticalHeader()->defaultSectionSize(), 35);
            QStringList headers;
            for (int c = 0; c < 6; ++c)
                headers << view->model()->headerData(c, Qt::Horizontal).toString();
            QCOMPARE(headers, QStringList({ "ID", "種類", "電話番号", "通話時間", "日付", "選択" }));
        }
        // Nothing in a table can be edited, not even by a double-click on a date.
        QTableView *view = table(TAB_ALL);
        const QModelIndex date = view->model()->index(0, HISTORY_COLUMN_DIALOG_DATE);
        doubleClick(view, date);
        QTest::keyClicks(view, QStringLiteral("9"));
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(!view->viewport()->findChild<QLineEdit *>());
        QCOMPARE(column(TAB_ALL, HISTORY_COLUMN_DIALOG_DATE).first(), QStringLiteral("2026-03-04 05:06:07"));
    }

    void deleteFromSortedOutgoingTabDeletesTheRowShown()
    {
        QVERIFY(openWindow());
        const QList<QPair<int, QString>> calls
            = { { HISTORY_OUTGOING_ANSWERED, "0300" }, { HISTORY_INCOMING_ANSWERED, "0100" },
                  { HISTORY_OUTGOING_UNANSWERED, "0500" }, { HISTORY_INCOMING_MISSED, "0150" },
                  { HISTORY_OUTGOING_ANSWERED, "0400" }, { HISTORY_OUTGOING_UNANSWERED, "0200" } };
        for (const auto &call : calls)
            m_window->add_history(row(call.first, call.second));
        QCOMPARE(numbers(TAB_OUTGOING), QStringList({ "0200", "0400", "0500", "0300" }));

        // Sort the tab by number with a click on its header.
        tabs()->setCurrentIndex(TAB_OUTGOING);
        QHeaderView *header = table(TAB_OUTGOING)->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(HISTORY_COLUMN_PHONE_NUMBER) + 10, header->height() / 2));
        QCOMPARE(numbers(TAB_OUTGOING), QStringList({ "0200", "0300", "0400", "0500" }));

        MenuSeen seen;
        rightClickRow(TAB_OUTGOING, 1, TEXT_HISTORY_DELETE, &seen);
        QVERIFY(seen.shown);

        QCOMPARE(storedNumbers(), QStringList({ "0100", "0500", "0150", "0400", "0200" }));
        QCOMPARE(numbers(TAB_OUTGOING), QStringList({ "0200", "0400", "0500" })); // still sorted by number
        QCOMPARE(numbers(TAB_ALL), QStringList({ "0200", "0400", "0150", "0500", "0100" }));
        QCOMPARE(numbers(TAB_INCOMING), QStringList({ "0150", "0100" }));
    }

    void equalValuesStayNewestFirstAfterSorting()
    {
        QVERIFY(openWindow());
        const QString five = QStringLiteral("00:00:05");
        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("0301"), five));
        m_window->add_history(row(HISTORY_INCOMING_ANSWERED, QStringLiteral("0302"), five));
        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("0303"), five));
        m_window->add_history(row(HISTORY_INCOMING_ANSWERED, QStringLiteral("0304"), five));

        for (int tab : { TAB_ALL, TAB_INCOMING, TAB_OUTGOING })
            table(tab)->sortByColumn(HISTORY_COLUMN_STATUS, Qt::AscendingOrder);
        QCOMPARE(numbers(TAB_ALL), QStringList({ "0304", "0302", "0303", "0301" }));
        // A new call lands on top of its group, after the refresh too.
        m_window->add_history(row(HISTORY_INCOMING_ANSWERED, QStringLiteral("0305"), five));
        QCOMPARE(numbers(TAB_ALL), QStringList({ "0305", "0304", "0302", "0303", "0301" }));
        QCOMPARE(numbers(TAB_INCOMING), QStringList({ "0305", "0304", "0302" }));
        QCOMPARE(numbers(TAB_OUTGOING), QStringList({ "0303", "0301" }));

        table(TAB_ALL)->sortByColumn(HISTORY_COLUMN_STATUS, Qt::DescendingOrder);
        QCOMPARE(numbers(TAB_ALL), QStringList({ "0303", "0301", "0305", "0304", "0302" }));
        table(TAB_INCOMING)->sortByColumn(HISTORY_COLUMN_DIALOG_TIME, Qt::DescendingOrder);
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("0306")));
        QCOMPARE(numbers(TAB_INCOMING), QStringList({ "0305", "0304", "0302", "0306" }));
        table(TAB_INCOMING)->sortByColumn(HISTORY_COLUMN_DIALOG_TIME, Qt::AscendingOrder);
        QCOMPARE(numbers(TAB_INCOMING), QStringList({ "0306", "0305", "0304", "0302" }));
    }

    void deleteTopMissedRowLeavesEveryTab()
    {
        QVERIFY(openWindow());
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("0701")));
        m_window->add_history(row(HISTORY_INCOMING_ANSWERED, QStringLiteral("0702")));
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("0703")));
        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("0704")));

        MenuSeen seen;
        rightClickRow(TAB_MISSED, 0, TEXT_HISTORY_DELETE, &seen);
        QVERIFY(seen.shown);

        QCOMPARE(storedNumbers(), QStringList({ "0701", "0702", "0704" }));
        QCOMPARE(numbers(TAB_ALL), QStringList({ "0704", "0702", "0701" }));
        QCOMPARE(numbers(TAB_INCOMING), QStringList({ "0702", "0701" }));
        QCOMPARE(numbers(TAB_MISSED), QStringList({ "0701" }));
    }

    void callBackReachesTheWindowSignal()
    {
        QVERIFY(openWindow());
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("0801")));
        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("0802")));
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("0803")));
        QSignalSpy calls(m_window, &HistoryWindow::signal_send_call);

        MenuSeen seen;
        rightClickRow(TAB_MISSED, 1, TEXT_HISTORY_DIAL, &seen);
        QVERIFY(seen.shown);
        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.takeFirst().at(0).toString(), QStringLiteral("0801"));

        tabs()->setCurrentIndex(TAB_OUTGOING);
        QTableView *view = table(TAB_OUTGOING);
        doubleClick(view, view->model()->index(0, HISTORY_COLUMN_PHONE_NUMBER));
        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.takeFirst().at(0).toString(), QStringLiteral("0802"));
        QCOMPARE(storedNumbers().size(), 3);
    }

    // A call that ends while the menu is open refreshes the tables under it: the menu must not
    // act on the record that has moved into the clicked row.
    void callEndingUnderOpenMenu_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::newRow("delete") << TEXT_HISTORY_DELETE;
        QTest::newRow("call back") << TEXT_HISTORY_DIAL;
    }

    void callEndingUnderOpenMenu()
    {
        QFETCH(QString, choice);
        QVERIFY(openWindow());
        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("0901")));
        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("0902")));
        QSignalSpy calls(m_window, &HistoryWindow::signal_send_call);

        MenuSeen seen;
        rightClickRow(TAB_ALL, 0, choice, &seen,
            [this] { m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("0903"))); });
        QVERIFY(seen.shown);

        if (choice == TEXT_HISTORY_DIAL) {
            QCOMPARE(calls.count(), 1);
            QCOMPARE(calls.at(0).at(0).toString(), QStringLiteral("0902"));
        }
        QVERIFY(storedNumbers().contains(QStringLiteral("0903")));
        QVERIFY(storedNumbers().contains(QStringLiteral("0901")));
        QCOMPARE(numbers(TAB_ALL).first(), QStringLiteral("0903"));
    }

    void deleteAllNotConfirmedKeepsRows_data()
    {
        QTest::addColumn<bool>("dismissed");
        QTest::newRow("no") << false;
        QTest::newRow("box closed") << true;
    }

    void deleteAllNotConfirmedKeepsRows()
    {
        QFETCH(bool, dismissed);
        QVERIFY(openWindow());
        m_window->add_history(row(HISTORY_INCOMING_ANSWERED, QStringLiteral("1001")));
        m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("1002")));

        // Without a matching button the answer closes the box.
        const auto answer = dismissed ? std::make_unique<ModalAnswer>(QMessageBox::NoButton)
                                      : std::make_unique<ModalAnswer>(TEXT_NO);
        m_window->findChild<QPushButton *>(QStringLiteral("deleteAllButton"))->click();

        QVERIFY(answer->seen());
        QCOMPARE(answer->title(), TITLE_DELETE_CONFIRM);
        QCOMPARE(answer->text(), MSG_DELETE_ALL_HISTORY);
        QCOMPARE(answer->icon(), QMessageBox::Question);
        QCOMPARE(answer->buttons(), QStringList({ TEXT_YES, TEXT_NO }));
        QCOMPARE(answer->defaultButton(), TEXT_NO);
        QVERIFY(answer->flags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(storedNumbers(), QStringList({ "1001", "1002" }));
        QCOMPARE(numbers(TAB_ALL), QStringList({ "1002", "1001" }));
        QCOMPARE(numbers(TAB_MISSED), QStringList({ "1002" }));
    }

    void deleteAllConfirmedEmptiesTabsAndIdsGoOn()
    {
        QVERIFY(openWindow());
        for (int i = 0; i < 5; ++i)
            m_window->add_history(row(HISTORY_INCOMING_MISSED, QStringLiteral("110%1").arg(i)));
        const qint64 lastId = maxId();
        // Show every tab once so that each has run its query before the delete.
        for (int tab = TAB_ALL; tab <= TAB_MISSED; ++tab)
            tabs()->setCurrentIndex(tab);

        ModalAnswer answer(TEXT_YES);
        m_window->findChild<QPushButton *>(QStringLiteral("deleteAllButton"))->click();
        QVERIFY(answer.seen());
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());

        QVERIFY(storedNumbers().isEmpty());
        for (int tab = TAB_ALL; tab <= TAB_MISSED; ++tab)
            QVERIFY(numbers(tab).isEmpty());

        m_window->add_history(row(HISTORY_OUTGOING_ANSWERED, QStringLiteral("1200")));
        QCOMPARE(numbers(TAB_OUTGOING), QStringList({ "1200" }));
        QVERIFY(maxId() > lastId);
        QCOMPARE(column(TAB_ALL, HISTORY_COLUMN_ID), QStringList({ QString::number(maxId()) }));
    }

    void closingOnlyHides()
    {
        QVERIFY(openWindow());
        tabs()->setCurrentIndex(TAB_MISSED);
        QCloseEvent close;
        QCoreApplication::sendEvent(m_window, &close);
        QVERIFY(!close.isAccepted());
        QVERIFY(!m_window->isVisible());

        m_window->show();
        QVERIFY(m_window->isVisible());
        QCOMPARE(tabs()->currentIndex(), int(TAB_MISSED));
        m_window->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
        QVERIFY(!m_window->isVisible());
    }

    // Rows that this program never writes, put there by someone else.
    void foreignRowsAreShownWithoutCrash()
    {
        const QString longNumber(5000, QLatin1Char('7'));
        const QStringList inserts = {
            "INSERT INTO history VALUES(NULL,'0','090','00:00:00','2026-01-01 00:00:00','0')",
            "INSERT INTO history VALUES(NULL,'5','091','00:00:00','2026-01-01 00:00:00','0')",
            "INSERT INTO history VALUES(NULL,'','092','','','')",
            "INSERT INTO history VALUES(NULL,NULL,NULL,NULL,NULL,NULL)",
            "INSERT INTO history VALUES(NULL,'x','093','later','yesterday','1')",
            "INSERT INTO history VALUES(NULL,'13','094','00:00:00','2026-01-01 00:00:00','0')",
            "INSERT INTO history VALUES(NULL,3,'095','00:00:00','2026-01-01 00:00:00',0)",
            QStringLiteral("INSERT INTO history VALUES(NULL,'2','%1','99:99:99','2026-01-01 00:00:00','0')")
                .arg(longNumber),
            "INSERT INTO history VALUES(NULL,'1','東京０３−１２３４ 📞','00:00:01','２０２６年','0')",
        };
        QSqlQuery query;
        for (const QString &statement : inserts)
            QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));

        QVERIFY(openWindow());
        QCOMPARE(numbers(TAB_ALL).size(), inserts.size());
        QCOMPARE(numbers(TAB_INCOMING), QStringList({ "東京０３−１２３４ 📞", "095" }));
        QCOMPARE(numbers(TAB_OUTGOING), QStringList({ longNumber }));
        QCOMPARE(numbers(TAB_MISSED), QStringList({ "095" }));

        for (int tab = TAB_ALL; tab <= TAB_MISSED; ++tab) {
            tabs()->setCurrentIndex(tab);
            QVERIFY(!m_window->grab().isNull());
        }
        tabs()->setCurrentIndex(TAB_ALL);
        QTableView *view = table(TAB_ALL);
        view->resize(392, 9 * 35 + 40); // every row on screen
        const QStringList statuses = column(TAB_ALL, HISTORY_COLUMN_STATUS);
        for (int r = 0; r < statuses.size(); ++r) {
            const bool known = QStringList({ "1", "2", "3", "4" }).contains(statuses[r]);
            QVERIFY2(cellIsBlank(view, view->model()->index(r, HISTORY_COLUMN_STATUS)) != known,
                qPrintable(QStringLiteral("row %1, status '%2'").arg(r).arg(statuses[r])));
        }

        // The long number is called back whole.
        QSignalSpy calls(m_window, &HistoryWindow::signal_send_call);
        MenuSeen seen;
        rightClickRow(TAB_OUTGOING, 0, TEXT_HISTORY_DIAL, &seen);
        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.at(0).at(0).toString(), longNumber);
    }

    // Years of history: each tab, scrolled to its end, lists exactly its own rows, newest
    // first down to the oldest, however deep in the table they lie.
    void everyTabScrollsToItsOldestRowIn100000()
    {
        const int total = 100000;
        // The missed calls are the 100 oldest rows only; incoming answered every 1000th.
        auto statusOf = [](int id) {
            if (id <= 100)
                return HISTORY_INCOMING_MISSED;
            if (id % 1000 == 0)
                return HISTORY_INCOMING_ANSWERED;
            return id % 2 ? HISTORY_OUTGOING_ANSWERED : HISTORY_OUTGOING_UNANSWERED;
        };
        // One statement writes them all, with the same rule in SQL.
        QSqlQuery insert;
        QVERIFY2(insert.exec(QStringLiteral(
                     "WITH RECURSIVE n(id) AS (SELECT 1 UNION ALL SELECT id + 1 FROM n WHERE id < %1) "
                     "INSERT INTO history SELECT id, CASE WHEN id <= 100 THEN '3' "
                     "WHEN id % 1000 = 0 THEN '1' WHEN id % 2 = 1 THEN '2' ELSE '4' END, "
                     "'0' || id, '00:00:00', '2026-01-01 00:00:00', '0' FROM n")
                                 .arg(total)),
            qPrintable(insert.lastError().text()));

        QVERIFY(openWindow());
        const QList<QList<int>> tabStatuses = { { 1, 2, 3, 4 }, { 1, 3 }, { 2, 4 }, { 3 } };
        for (int tab = TAB_ALL; tab <= TAB_MISSED; ++tab) {
            tabs()->setCurrentIndex(tab);
            QTableView *view = table(tab);
            QAbstractItemModel *model = view->model();
            // Scroll to the end as a user would, until nothing more is fetched.
            for (int round = 0; round < 5000 && model->canFetchMore(QModelIndex()); ++round) {
                view->scrollToBottom();
                QCoreApplication::processEvents();
            }
            QVERIFY(!model->canFetchMore(QModelIndex()));
            view->scrollToBottom();
            const QModelIndex last = model->index(model->rowCount() - 1, HISTORY_COLUMN_PHONE_NUMBER);
            QVERIFY(view->viewport()->rect().contains(view->visualRect(last)));

            QList<int> expected;
            for (int id = total; id >= 1; --id)
                if (tabStatuses[tab].contains(statusOf(id)))
                    expected << id;
            QList<int> shown;
            shown.reserve(model->rowCount());
            for (int r = 0; r < model->rowCount(); ++r)
                shown << model->index(r, HISTORY_COLUMN_ID).data().toInt();
            QCOMPARE(shown.size(), expected.size());
            QCOMPARE(shown.first(), expected.first());
            QCOMPARE(shown.last(), expected.last());
            QVERIFY(shown == expected);
        }
    }
};

QTEST_MAIN(tst_HistoryWindow)
#include "tst_historywindow.moc"
