// The label's drawing module: the PDF page (cairo, libqrencode) and the CUPS queue (libcups),
// built as a module of its own, libnetboard-label.so, and loaded the first time a label needs
// it. A run that prints no PDF or CUPS label so maps none of those libraries, nor the ones they
// bring (fontconfig, freetype, GnuTLS, Kerberos, ...): netboard-cli's write without a label
// costs what it did.
//
// The module is looked for beside the executable, then in the installed library folder
// (lib/netboard-config, from the executable's folder), then where the build put it (for the
// tests and benchmarks, which run from other folders of the build).
//
// Thread rules: LoadLabelRender may be called from any thread; the module stays loaded.
#pragma once

#include <QByteArray>
#include <QString>

#include "label/labeloutcome.h"

struct TLabelContent;
struct TLabelSettings;

struct TLabelRender {
    // LabelPdf of labelpdf.h and PrintOnCupsQueue of cupsqueue.h.
    QByteArray (*labelPdf)(const TLabelSettings& s, const TLabelContent& c, QString* error);
    TLabelOutcome (*printOnCupsQueue)(const QString& queue, const QByteArray& pdf,
                                      const QString& title);
};

// The module's table; null, with `*error` set, when the module cannot be loaded.
const TLabelRender* LoadLabelRender(QString* error);

// The module's one exported symbol: a function that gives its table.
inline constexpr char kLabelRenderEntry[] = "NbLabelRenderTable";
