// The "Messages" and "Events" grids as the operator sees them, and the
// debug memo's bound.
#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>

#include "app/window_fixture.h"
#include "support/artefacts.h"

namespace volmar::testing {
namespace {

QString Title(const QTableView* Grid, int Col) {
    return Grid->model()->headerData(Col, Qt::Horizontal).toString();
}

QString Text(const QTableView* Grid, int Row, int Col) {
    return Grid->model()->index(Row, Col).data().toString();
}

int TopRow(const QTableView* Grid) { return Grid->rowAt(0); }
int LastRow(const QTableView* Grid) { return Grid->model()->rowCount() - 1; }

bool InView(const QTableView* Grid, int Row) {
    return Grid->viewport()->rect().contains(Grid->visualRect(Grid->model()->index(Row, 0)));
}

void Drag(QHeaderView* Header, int FromX, int ToX) {
    QWidget* target = Header->viewport();
    const int y = Header->height() / 2;
    const auto send = [target, y](QEvent::Type Type, int X, Qt::MouseButton Button,
                                  Qt::MouseButtons Buttons) {
        const QPointF at(X, y);
        QMouseEvent event(Type, at, target->mapToGlobal(at), Button, Buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    send(QEvent::MouseButtonPress, FromX, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, (FromX + ToX) / 2, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, ToX, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, ToX, Qt::LeftButton, Qt::NoButton);
}

class LogGridsTest : public WindowTest {
protected:
    TfrmVolmar& StartShown(QTableView* TfrmVolmar::*Page, const std::string& Settings = "") {
        WriteSettings("[Comms]\nPort=1\n" + Settings);
        TfrmVolmar& w = Start();
        w.show();
        w.pgctrlPages->setCurrentWidget(w.*Page);
        Settle();
        return w;
    }
    void AddEntries(int First, int Count) {
        for (int i = First; i < First + Count; ++i)
            window->Monitor().Logs().LogLineError(static_cast<std::uint16_t>(100 + i));
        Settle();
    }
    static QString Entry(int I) { return QStringLiteral("Unknown line error (%1)").arg(100 + I); }
    void SavePage(const QString& Name) { EXPECT_TRUE(SavePicture(window->grab().toImage(), Name)); }
};

constexpr QTableView* TfrmVolmar::*kMessagesPage = &TfrmVolmar::grdMessages;
constexpr QTableView* TfrmVolmar::*kEventsPage = &TfrmVolmar::grdEvents;

TEST_F(LogGridsTest, MessageTitlesStayOnTopWhileTheRowsScroll) {
    TfrmVolmar& w = StartShown(kMessagesPage);
    QTableView* grid = w.grdMessages;
    grid->scrollToBottom();
    Settle();
    EXPECT_TRUE(InView(grid, LastRow(grid)));
    EXPECT_EQ(Text(grid, LastRow(grid), 0), QStringLiteral("7f"));
    EXPECT_EQ(Text(grid, TopRow(grid), 0).size(), 2) << "a code's row at the top, not the titles";
    QHeaderView* titles = grid->horizontalHeader();
    ASSERT_TRUE(titles->isVisible());
    EXPECT_LT(titles->geometry().bottom(), grid->viewport()->geometry().top());
    EXPECT_EQ((QStringList{Title(grid, 0), Title(grid, 1), Title(grid, 2), Title(grid, 3)}),
              (QStringList{"Code", "Description", "Messages", "Retries"}));
    EXPECT_EQ(grid->model()->rowCount(), 128);
    EXPECT_TRUE(grid->showGrid());

    // "Messages" is cut by its designed width; its tooltip shows it whole.
    const QPoint at(titles->sectionViewportPosition(2) + 4, titles->height() / 2);
    QHelpEvent ask(QEvent::ToolTip, at, titles->viewport()->mapToGlobal(at));
    QApplication::sendEvent(titles->viewport(), &ask);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Messages"));
    QToolTip::hideText();
}

TEST_F(LogGridsTest, ACutCellShowsItsWholeTextInATooltip) {
    TfrmVolmar& w = StartShown(kEventsPage);
    const QString whole = QStringLiteral("Fault injected: 3 garbage bytes after the answer to 4Bh");
    w.Monitor().Logs().LogNote(whole.toStdString());
    Settle();
    QTableView* grid = w.grdEvents;
    const auto ask = [&](int Col) {
        const QPoint at = grid->visualRect(grid->model()->index(LastRow(grid), Col)).center();
        QHelpEvent help(QEvent::ToolTip, at, grid->viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid->viewport(), &help);
    };
    ask(0);
    EXPECT_FALSE(QToolTip::isVisible()) << "the time is shown whole";
    ask(1);
    EXPECT_EQ(QToolTip::text(), whole);
    QToolTip::hideText();
}

TEST_F(LogGridsTest, EventTitlesBecomeAHeaderWithTheFirstEntryUntilReset) {
    TfrmVolmar& w = StartShown(kEventsPage);
    QTableView* grid = w.grdEvents;
    EXPECT_FALSE(grid->showGrid());
    EXPECT_FALSE(grid->horizontalHeader()->isVisible());
    ASSERT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(Text(grid, 0, 5), QStringLiteral("Dataport Message Received"));

    Send({0x26, 0x26});
    Answers(1);
    EXPECT_TRUE(grid->horizontalHeader()->isVisible());
    EXPECT_EQ(Title(grid, 5), QStringLiteral("Dataport Message Received"));
    ASSERT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(Text(grid, 0, 5), QStringLiteral("26 26"));

    w.Monitor().Reset();
    Settle();
    EXPECT_FALSE(grid->horizontalHeader()->isVisible());
    ASSERT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(Text(grid, 0, 0), QStringLiteral("Time"));
}

TEST_F(LogGridsTest, TheOperatorResizesAndMovesColumns) {
    TfrmVolmar& w = StartShown(kEventsPage);
    AddEntries(0, 1);
    const QTableView* messages = w.grdMessages;
    const int others = messages->columnWidth(0) + messages->columnWidth(2) + messages->columnWidth(3);
    for (QTableView* grid : {w.grdEvents, w.grdMessages}) {
        w.pgctrlPages->setCurrentWidget(grid);
        Settle();
        QHeaderView* titles = grid->horizontalHeader();
        const int width = titles->sectionSize(2);
        const int edge = titles->sectionViewportPosition(2) + width - 1;
        Drag(titles, edge, edge + 30);
        EXPECT_EQ(titles->sectionSize(2), width + 30) << Title(grid, 0).toStdString();
        Drag(titles, titles->sectionViewportPosition(0) + 8,
             titles->sectionViewportPosition(2) + titles->sectionSize(2) - 8);
        EXPECT_EQ(titles->visualIndex(0), 2) << Title(grid, 0).toStdString();
    }
    // The description column still takes the room left after a window resize.
    w.resize(900, w.height());
    Settle();
    const int scroll = w.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    EXPECT_EQ(messages->columnWidth(1), messages->width() - others - scroll - 9);
}

TEST_F(LogGridsTest, AFontWiderThanDesignedWidensTheColumnsItsTitlesNeed) {
    const QFont before = QApplication::font();
    QFont wide = before;
    wide.setPixelSize(24);
    QApplication::setFont(wide);
    TfrmVolmar& w = StartShown(kMessagesPage);
    QTableView* grid = w.grdMessages;
    const QFontMetrics metrics(grid->horizontalHeader()->font());
    for (int col : {0, 2, 3})
        EXPECT_GT(grid->columnWidth(col), metrics.horizontalAdvance(Title(grid, col))) << col;
    QApplication::setFont(before);
}

TEST_F(LogGridsTest, TheNewestEventIsFollowedOnlyFromTheBottom) {
    TfrmVolmar& w = StartShown(kEventsPage);
    QTableView* grid = w.grdEvents;
    AddEntries(0, 100);
    EXPECT_EQ(Text(grid, LastRow(grid), 1), Entry(99));
    EXPECT_TRUE(InView(grid, LastRow(grid)));

    // Scrolled up to read: new entries, each dropping the oldest, leave the
    // rows read in place.
    grid->verticalScrollBar()->setValue(10);
    Settle();
    const QString read = Text(grid, TopRow(grid), 1);
    AddEntries(100, 3);
    EXPECT_EQ(Text(grid, TopRow(grid), 1), read);
    EXPECT_FALSE(InView(grid, LastRow(grid)));

    grid->scrollToBottom();
    Settle();
    AddEntries(103, 2);
    EXPECT_EQ(Text(grid, LastRow(grid), 1), Entry(104));
    EXPECT_TRUE(InView(grid, LastRow(grid)));
}

TEST_F(LogGridsTest, AHiddenEventLogCatchesUpWhenShown) {
    TfrmVolmar& w = StartShown(kEventsPage);
    QTableView* grid = w.grdEvents;
    AddEntries(0, 100);
    const auto away = [&] {
        w.pgctrlPages->setCurrentWidget(w.grdMessages);
        Settle();
    };
    const auto back = [&] {
        w.pgctrlPages->setCurrentWidget(grid);
        Settle();
    };
    away();
    AddEntries(100, 30);
    back();
    EXPECT_EQ(Text(grid, LastRow(grid), 1), Entry(129));
    EXPECT_TRUE(InView(grid, LastRow(grid)));

    // Scrolled up to read, the rows read stay in place behind another page.
    grid->verticalScrollBar()->setValue(10);
    Settle();
    const QString read = Text(grid, TopRow(grid), 1);
    away();
    AddEntries(130, 3);
    back();
    EXPECT_EQ(Text(grid, TopRow(grid), 1), read);
    EXPECT_FALSE(InView(grid, LastRow(grid)));
}

TEST_F(LogGridsTest, ControlBytesKeepTheDebugMemoAtTwoHundredLines) {
    TfrmVolmar& w = StartShown(kMessagesPage, "[Options]\nDebug=1\n");
    // "Game" with the stake 0A00h: its data bytes read as text are a line feed.
    const Bytes game = {0x69, 0x0A, 0x00, 0x73};
    for (int round = 0; round < 30; ++round) {
        Bytes burst;
        for (int i = 0; i < 10; ++i) burst.insert(burst.end(), game.begin(), game.end());
        Send(burst);
        ASSERT_EQ(Answers(10).size(), 10u);
    }
    EXPECT_EQ(w.Monitor().Counters().Games, 300);
    EXPECT_EQ(w.Monitor().Logs().Debug.Lines().size(), 200u);
    EXPECT_EQ(w.mmoDebug->document()->blockCount(), 200);
    EXPECT_TRUE(w.mmoDebug->toPlainText().contains(
        QStringLiteral("OnDPMessage: Type:Two data byte Hdr:69h Data:2 ^J - Accepted")));
}

TEST_F(LogGridsTest, PicturesOfTheLogPages) {
    TfrmVolmar& w = StartShown(kMessagesPage, "[Options]\nDebug=1\n");
    const std::vector<Bytes> traffic = {
        {0x26, 0x26}, {0x26, 0x26}, {0x69, 0x00, 0x0A, 0x73}, {0x62, 0x03, 0x65},
        {0x69, 0x0A, 0x00, 0x73}, {0xE9, 0x0A, 0x00, 0xF3}, {0x05}, {0x6A, 0x00, 0x01, 0x6B},
    };
    for (const Bytes& frame : traffic) {
        Send(frame);
        ASSERT_EQ(Answers(1).size(), 1u);
    }
    line->InjectError(kErrParity);
    ASSERT_TRUE(PumpUntil([&] { return w.Monitor().Logs().Events.RowCount() == 10; }));
    w.grdMessages->scrollTo(w.grdMessages->model()->index(0x69, 0));
    Settle();
    SavePage(QStringLiteral("messages_page"));
    w.pgctrlPages->setCurrentWidget(w.grdEvents);
    Settle();
    SavePage(QStringLiteral("events_page"));
}

} // namespace
} // namespace volmar::testing
