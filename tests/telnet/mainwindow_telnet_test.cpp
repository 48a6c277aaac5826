// The main window's telnet test command "Telnet" (IP1) against netboard-sim.
#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>

#include "app/mainwindow.h"
#include "support/modal.h"
#include "support/simprocess.h"
#include "telnet/telnetsession.h"

namespace {

void PointAt(TNetC1AppForm* w, int n) {
    w->Params().TCPIP1_1 = 127;
    w->Params().TCPIP1_2 = 0;
    w->Params().TCPIP1_3 = 4;
    w->Params().TCPIP1_4 = n;
}

TEST(TelnetTestCommand, ShowsTheLoggedInSessionModallyAndReleasesIt) {
    SimProcess sim({"telnet", "--address", "127.0.4.119", "--port", "23"});
    ASSERT_TRUE(sim.Started());
    TNetC1AppForm w(TempPath("telnet-command") + ".ini");
    PointAt(&w, 119);
    bool shownConnected = false;
    OnNextModal([&](QWidget* m) {
        auto* d = qobject_cast<TTelNetCont1Dlg*>(m);
        shownConnected = d && d->Connected() && d->isVisible();
        m->findChild<QPushButton*>("OKBtn")->click();
    });
    w.Action("IP1")->trigger();
    EXPECT_TRUE(shownConnected);
    EXPECT_FALSE(w.CommandRunning());
    const QStringList lines = w.LogPane()->Lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("Connect"));
    EXPECT_EQ(lines[1], QStringLiteral("Connected"));
    EXPECT_TRUE(lines.contains(QStringLiteral("TX:4B 58 57 0D 0A ")));
    EXPECT_TRUE(w.findChildren<TTelNetCont1Dlg*>().isEmpty());
}

TEST(TelnetTestCommand, ConnectFailureShowsServerNotResponding) {
    TNetC1AppForm w(TempPath("telnet-command") + ".ini");
    PointAt(&w, 120);  // nothing listens there
    QString text;
    AcceptNextMessageBox(&text);
    w.Action("IP1")->trigger();
    EXPECT_EQ(text, QStringLiteral("server not responding"));
    EXPECT_FALSE(w.CommandRunning());
    EXPECT_TRUE(w.findChildren<TTelNetCont1Dlg*>().isEmpty());
}

}  // namespace
