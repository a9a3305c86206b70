#include "tests/ui/history/uidriver.h"
#include "ui/history/historyitemdelegate.h"

#include "app/constants.h"

#include <QCursor>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

class tst_HistoryItemDelegate : public QObject
{
    Q_OBJECT

private:
    static constexpr QRgb BACKGROUND = 0xff123456;

    // One history row per status text: Id, Status, PhoneNumber, DialogTime, DialogDate, DeleteFlg.
    static QStandardItemModel *historyModel(QObject *parent, const QStringList &statuses)
    {
        auto *model = new QStandardItemModel(0, 6, parent);
        int id = 1;
        for (const QString &status : statuses) {
            QList<QStandardItem *> items;
            for (const QString &text : { QString::number(id), status, QStringLiteral("0312340%1").arg(id),
                     QStringLiteral("00:00:0%1").arg(id), QStringLiteral("2026-01-02 03:04:05"),
                     QStringLiteral("0") })
                items << new QStandardItem(text);
            model->appendRow(items);
            ++id;
        }
        return model;
    }

    // The cell as the delegate paints it over a plain background.
    static QImage render(HistoryItemDelegate &delegate, const QModelIndex &index, const QSize &cell,
        QStyle::State extraState = {})
    {
        QImage image(cell, QImage::Format_ARGB32);
        image.fill(BACKGROUND);
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = QRect(QPoint(0, 0), cell);
        option.state = QStyle::State_Enabled | QStyle::State_Active | extraState;
        option.palette.setColor(QPalette::Highlight, Qt::green);
        option.palette.setColor(QPalette::Text, Qt::black);
        delegate.paint(&painter, option, index);
        return image;
    }

    // Bounding box of the pixels that differ from the background.
    static QRect paintedBox(const QImage &image)
    {
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != BACKGROUND)
                    box |= QRect(x, y, 1, 1);
        return box;
    }

private slots:
    void statusIconsByCode()
    {
        HistoryItemDelegate delegate(nullptr);
        const QStringList statuses
            = { QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4") };
        QStandardItemModel *model = historyModel(&delegate, statuses);
        const QSize cell(50, 35);
        QImage icons[4];
        for (int row = 0; row < 4; ++row) {
            icons[row] = render(delegate, model->index(row, HISTORY_COLUMN_STATUS), cell);
            QVERIFY2(!paintedBox(icons[row]).isEmpty(), qPrintable(statuses[row]));
        }
        // Answered and unanswered outgoing calls look the same; the three kinds differ.
        QCOMPARE(icons[1], icons[3]);
        QVERIFY(icons[0] != icons[1]);
        QVERIFY(icons[0] != icons[2]);
        QVERIFY(icons[1] != icons[2]);
    }

    void statusIconIsCentred()
    {
        HistoryItemDelegate delegate(nullptr);
        QStandardItemModel *model = historyModel(&delegate, { QStringLiteral("3") });
        const QModelIndex status = model->index(0, HISTORY_COLUMN_STATUS);
        const QRect small = paintedBox(render(delegate, status, QSize(40, 30)));
        const QRect large = paintedBox(render(delegate, status, QSize(60, 50)));
        QCOMPARE(large.size(), small.size());
        QCOMPARE(large.topLeft() - small.topLeft(), QPoint(10, 10));
    }

    void statusOutsideOneToFourStaysBlank_data()
    {
        QTest::addColumn<QString>("status");
        QTest::newRow("zero") << QStringLiteral("0");
        QTest::newRow("five") << QStringLiteral("5");
        QTest::newRow("empty") << QString();
        QTest::newRow("letter") << QStringLiteral("x");
        QTest::newRow("two digits") << QStringLiteral("13");
        QTest::newRow("negative") << QStringLiteral("-1");
        QTest::newRow("too large") << QStringLiteral("99999999999999999999");
        QTest::newRow("full-width digit") << QStringLiteral("３");
    }

    void statusOutsideOneToFourStaysBlank()
    {
        QFETCH(QString, status);
        HistoryItemDelegate delegate(nullptr);
        QStandardItemModel *model = historyModel(&delegate, { status });
        const QImage image = render(delegate, model->index(0, HISTORY_COLUMN_STATUS), QSize(50, 35),
            QStyle::State_Selected | QStyle::State_HasFocus);
        QVERIFY(paintedBox(image).isEmpty());
    }

    void selectedStatusCellShowsOnlyItsIcon()
    {
        HistoryItemDelegate delegate(nullptr);
        QStandardItemModel *model = historyModel(&delegate, { QStringLiteral("2") });
        const QSize cell(50, 35);
        const QModelIndex status = model->index(0, HISTORY_COLUMN_STATUS);
        const QStyle::State selected = QStyle::State_Selected | QStyle::State_HasFocus;
        QCOMPARE(render(delegate, status, cell, selected), render(delegate, status, cell));
        // Other columns are drawn as usual, selection highlight and text included.
        const QModelIndex number = model->index(0, HISTORY_COLUMN_PHONE_NUMBER);
        const QImage plainNumber = render(delegate, number, cell);
        QVERIFY(!paintedBox(plainNumber).isEmpty());
        QVERIFY(render(delegate, number, cell, selected) != plainNumber);
    }

    void contextMenuOnAnyColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("choice");
        QTest::newRow("call back from the status") << int(HISTORY_COLUMN_STATUS) << TEXT_HISTORY_DIAL;
        QTest::newRow("call back from the date") << int(HISTORY_COLUMN_DIALOG_DATE) << TEXT_HISTORY_DIAL;
        QTest::newRow("delete from the number") << int(HISTORY_COLUMN_PHONE_NUMBER) << TEXT_HISTORY_DELETE;
        QTest::newRow("delete from the talk time") << int(HISTORY_COLUMN_DIALOG_TIME) << TEXT_HISTORY_DELETE;
        QTest::newRow("dismissed") << int(HISTORY_COLUMN_DIALOG_DATE) << QString();
    }

    void contextMenuOnAnyColumn()
    {
        QFETCH(int, column);
        QFETCH(QString, choice);
        QTableView view;
        auto *delegate = new HistoryItemDelegate(&view);
        QStandardItemModel *model
            = historyModel(&view, { QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("4") });
        view.setModel(model);
        view.setItemDelegate(delegate);
        view.resize(600, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy dials(delegate, &HistoryItemDelegate::signal_send_dialog);
        QList<QPair<const QAbstractItemModel *, int>> removals;
        connect(delegate, &HistoryItemDelegate::signal_remove_row, [&](const QAbstractItemModel *m, int row) {
            removals.append({ m, row });
        });

        const QPoint cursor(230, 170);
        QCursor::setPos(cursor);
        MenuSeen seen;
        answerNextMenu(choice, &seen);
        const QModelIndex clicked = model->index(1, column);
        QTest::mouseClick(view.viewport(), Qt::RightButton, {}, view.visualRect(clicked).center());

        QVERIFY(seen.shown);
        QCOMPARE(seen.actions, QStringList({ TEXT_HISTORY_DIAL, TEXT_HISTORY_DELETE }));
        QCOMPARE(seen.pos, cursor);
        if (choice == TEXT_HISTORY_DIAL) {
            QCOMPARE(dials.count(), 1);
            QCOMPARE(
                dials.at(0).at(0).toString(), model->index(1, HISTORY_COLUMN_PHONE_NUMBER).data().toString());
        } else {
            QCOMPARE(dials.count(), 0);
        }
        if (choice == TEXT_HISTORY_DELETE) {
            QCOMPARE(removals.size(), 1);
            QCOMPARE(removals.at(0).first, model);
            QCOMPARE(removals.at(0).second, 1);
        } else {
            QVERIFY(removals.isEmpty());
        }
    }

    void doubleClickCallsBackOnlyOnTheNumber_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("dials");
        QTest::newRow("number") << int(HISTORY_COLUMN_PHONE_NUMBER) << true;
        QTest::newRow("status") << int(HISTORY_COLUMN_STATUS) << false;
        QTest::newRow("talk time") << int(HISTORY_COLUMN_DIALOG_TIME) << false;
        QTest::newRow("date") << int(HISTORY_COLUMN_DIALOG_DATE) << false;
    }

    void doubleClickCallsBackOnlyOnTheNumber()
    {
        QFETCH(int, column);
        QFETCH(bool, dials);
        QTableView view;
        auto *delegate = new HistoryItemDelegate(&view);
        QStandardItemModel *model = historyModel(&view, { QStringLiteral("2"), QStringLiteral("3") });
        view.setModel(model);
        view.setItemDelegate(delegate);
        view.setEditTriggers(QAbstractItemView::NoEditTriggers);
        view.resize(600, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy dialSpy(delegate, &HistoryItemDelegate::signal_send_dialog);

        doubleClick(&view, model->index(1, column));

        QCOMPARE(dialSpy.count(), dials ? 1 : 0);
        if (dials)
            QCOMPARE(dialSpy.at(0).at(0).toString(),
                model->index(1, HISTORY_COLUMN_PHONE_NUMBER).data().toString());
    }
};

QTEST_MAIN(tst_HistoryItemDelegate)
#include "tst_historyitemdelegate.moc"
