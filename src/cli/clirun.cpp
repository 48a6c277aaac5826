#include "cli/clirun.h"

#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "board/commandline.h"
#include "board/procedures.h"
#include "board/productionrecord.h"
#include "board/readback.h"
#include "cli/cliargs.h"
#include "cli/stdoutlog.h"
#include "core/exceptions.h"
#include "core/inifile.h"
#include "core/replytimer.h"
#include "core/settings.h"
#include "reader/readerlink.h"
#include "reader/romquery.h"
#include "serial/commx.h"
#include "serial/netset1dlg.h"
#include "telnet/telnetsession.h"

void PrintLine(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void PrintError(const QString& line) {
    const QByteArray bytes = "netboard-cli: " + line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

namespace {

// A link that cannot be opened: the port, the telnet connect, the reader's connect.
class ELinkError : public Exception {
  public:
    using Exception::Exception;
};

// After "exit" the board echoes it (and may say more) with nothing awaiting it; the read-back
// must start once the line has been quiet for a while, or those bytes are taken for answers.
void SettleAfterExit(TNetSet1Dlg& session) {
    constexpr uint32_t kQuietMs = 300;
    constexpr uint32_t kLimitMs = 2000;
    TReplyTimer total;
    TReplyTimer quiet;
    total.Start();
    quiet.Start();
    int seen = session.ReceivedCount();
    while (!total.Elapsed(kLimitMs)) {
        // Until the first byte only the overall limit counts, so the wait never spins.
        const uint32_t left = total.RemainingMs(kLimitMs);
        WaitForEvents(seen > 0 ? std::min(left, quiet.RemainingMs(kQuietMs)) : left);
        if (session.ReceivedCount() != seen) {
            seen = session.ReceivedCount();
            quiet.Start();
        } else if (seen > 0 && quiet.Elapsed(kQuietMs)) {
            return;
        }
    }
}

class TCliRun {
  public:
    TCliRun(const TCliArgs& args, const QString& iniPath)
        : a_(args), ini_(iniPath), params_(LoadSettings(iniPath)) {
        if (a_.address) {
            // The target of this run only: it is never saved, since only the MAC counter is.
            params_.TCPIP1_1 = (*a_.address)[0];
            params_.TCPIP1_2 = (*a_.address)[1];
            params_.TCPIP1_3 = (*a_.address)[2];
            params_.TCPIP1_4 = (*a_.address)[3];
        }
    }

    int Run() {
        switch (a_.command) {
            case TCliCommand::Write:
                return Write();
            case TCliCommand::MacRewrite:
                return MacRewrite();
            case TCliCommand::Read:
                return Read();
            case TCliCommand::RomVersion:
                return RomVersion();
            case TCliCommand::None:
                break;
        }
        return kExitUsage;
    }

  private:
    using LinkPtr = std::unique_ptr<TBoardLink>;

    LinkPtr OpenBoardLink() {
        if (a_.link == TCliLink::Telnet) {
            try {
                return LinkPtr(new TTelNetCont1Dlg(nullptr, &log_, params_));
            } catch (const Exception& e) {
                throw ELinkError(QStringLiteral("cannot connect to %1:%2: %3")
                                     .arg(params_.OwnIpText())
                                     .arg(TTelNetCont1Dlg::kPort)
                                     .arg(e.Message()));
            }
        }
        auto s = std::make_unique<TNetSet1Dlg>(&log_);
        TCommX* port = s->CommX1();
        port->SetIniPath(ini_);
        port->SetDeviceOverride(a_.device);
        port->SetPortNo(a_.port.value_or(params_.ComPort));
        try {
            port->PortOpen();
        } catch (const Exception& e) {
            throw ELinkError(QStringLiteral("cannot open COM%1 (%2): %3")
                                 .arg(port->PortNo())
                                 .arg(port->DevicePath(), e.Message()));
        }
        return s;
    }

    TProcedureHooks Hooks() {
        TProcedureHooks h;
        h.log = [this](const QString& line) { log_.AddLine(line, kMainLogLimit); };
        h.macChanged = [this] { SaveMacCounter(); };
        h.nullBox = [] { PrintLine(QStringLiteral("NULL")); };
        return h;
    }

    // Only the counter is written, so that nothing else of this run (an --address override
    // above all) reaches the settings file. A failure leaves the board's result standing.
    void SaveMacCounter() {
        try {
            TIniFile ini(ini_);
            const QString section = QLatin1String(kOptionSection);
            ini.WriteInteger(section, QStringLiteral("MacAddr_1"), params_.MacAddr_1);
            ini.WriteInteger(section, QStringLiteral("MacAddr_2"), params_.MacAddr_2);
            ini.WriteInteger(section, QStringLiteral("MacAddr_3"), params_.MacAddr_3);
            ini.UpdateFile();
        } catch (const Exception& e) {
            PrintError(QStringLiteral("MAC counter not saved: ") + e.Message());
        }
    }

    TProductionRecord& Record() {
        if (!record_)
            record_.emplace(TProductionRecord::PathBesideIni(ini_));
        return *record_;
    }

    // False (with the reason on standard error) when the address was given before and reuse
    // was not allowed.
    bool MayGiveMacAddress(const QString& mac) {
        const std::optional<QString> when = Record().GivenBefore(mac);
        if (!when)
            return true;
        if (!a_.allowReuse) {
            PrintError(
                QStringLiteral("MAC address %1 was given on %2; --allow-reuse gives it again")
                    .arg(mac, *when));
            return false;
        }
        PrintError(QStringLiteral("MAC address %1 was given on %2; given again (--allow-reuse)")
                       .arg(mac, *when));
        return true;
    }

    void RecordCommand(const char* command, const QString& link, const QString& mac,
                       const QString& ownIp, bool ok, const QByteArray& failed) {
        try {
            Record().Append({QDateTime::currentDateTime(), QLatin1String(command), link, mac, ownIp,
                             ok, QString::fromLatin1(failed)});
        } catch (const Exception& e) {
            PrintError(QStringLiteral("production record not written: ") + e.Message());
        }
    }

    int Write() {
        const bool withMac = a_.withMac;
        const QString mac = withMac ? QString::fromLatin1(MacText(params_)) : QString();
        if (withMac && !MayGiveMacAddress(mac))
            return kExitNg;
        LinkPtr link = OpenBoardLink();
        const TBoardParams written = params_;
        TOutcome out = RunWriteCommand(*link, &params_, withMac, Hooks());
        if (out.ok && a_.verify && !Verify(*link, written, withMac)) {
            out = {false, "verify"};
            Hooks().log(QString::fromUtf8(kBannerNg));
        }
        RecordCommand(WriteCommandName(a_.link == TCliLink::Telnet, withMac), link->Description(),
                      mac, written.OwnIpText(), out.ok, out.failed);
        return out.ok ? kExitOk : kExitNg;
    }

    // Reads the settings back over the same link and names every value that differs from what
    // was written on standard error.
    bool Verify(TBoardLink& link, const TBoardParams& written, bool withMac) {
        if (auto* serial = dynamic_cast<TNetSet1Dlg*>(&link))
            SettleAfterExit(*serial);
        TBoardParams scratch = written;  // the read may store the own address into it
        TBoardReadback board;
        TOutcome read;
        try {
            read = ReadBoardSettings(link, &scratch, &board, Hooks());
        } catch (const Exception& e) {
            PrintError(QStringLiteral("verify: read-back failed: ") + e.Message());
            return false;
        }
        if (!read.ok) {
            PrintError(QStringLiteral("verify: read-back failed at ") +
                       QString::fromLatin1(read.failed));
            return false;
        }
        const QStringList differences = ReadbackDifferences(written, board, withMac);
        for (const QString& d : differences)
            PrintError(QStringLiteral("verify: ") + d);
        return differences.isEmpty();
    }

    int MacRewrite() {
        if (a_.mac) {
            params_.MacAddr_1 = (*a_.mac)[0];
            params_.MacAddr_2 = (*a_.mac)[1];
            params_.MacAddr_3 = (*a_.mac)[2];
        }
        SaveMacCounter();
        const QString mac = QString::fromLatin1(MacText(params_));
        if (!MayGiveMacAddress(mac))
            return kExitNg;
        LinkPtr link = OpenBoardLink();
        const TOutcome out = RewriteMacAddress(*link, &params_, Hooks());
        RecordCommand("mac-rewrite", link->Description(), mac, QString(), out.ok, out.failed);
        return out.ok ? kExitOk : kExitNg;
    }

    int Read() {
        LinkPtr link = OpenBoardLink();
        TBoardParams scratch = params_;  // nothing read is kept
        TBoardReadback board;
        TOutcome out;
        try {
            out = ReadBoardSettings(*link, &scratch, &board, Hooks());
        } catch (const Exception&) {
            for (const QString& line : ReadbackLines(board))
                PrintLine(line);  // what was read before the reply that is not a number
            throw;
        }
        for (const QString& line : ReadbackLines(board))
            PrintLine(line);
        if (!out.ok)
            PrintError(QStringLiteral("no reply to ") + QString::fromLatin1(out.failed));
        return out.ok ? kExitOk : kExitNg;
    }

    int RomVersion() {
        TTComXDlg link(nullptr, params_.TCPPort1, &log_, ini_);
        link.SetTCPServPort(params_.TCPPort1);
        link.SetTCPServAddr(params_.OwnIpText());
        link.OpenLink();
        int status = kExitNg;
        if (!link.Connected()) {
            PrintError(QStringLiteral("cannot connect to the reader at %1:%2")
                           .arg(params_.OwnIpText())
                           .arg(params_.TCPPort1));
            status = kExitUsage;
        } else {
            link.SendRomVersionRequest();
            if (link.WaitResponse()) {
                PrintLine(QString::fromUtf8(kRomVersionPrefix) + link.VersionText());
                status = kExitOk;
            }
        }
        try {
            link.FormDestroy();
        } catch (const Exception& e) {
            PrintError(e.Message());  // the query's result stands
        }
        return status;
    }

    const TCliArgs& a_;
    QString ini_;
    TBoardParams params_;
    TStdoutLog log_;
    std::optional<TProductionRecord> record_;
};

}  // namespace

int RunCli(const TCliArgs& args, const QString& iniPath) {
    try {
        TCliRun run(args, iniPath);
        return run.Run();
    } catch (const ELinkError& e) {
        PrintError(e.Message());
        return kExitUsage;
    } catch (const Exception& e) {
        PrintError(e.Message());  // a reply that is not a number, and the like
        return kExitNg;
    } catch (const std::exception& e) {
        PrintError(QString::fromUtf8(e.what()));
        return kExitNg;
    }
}
