#include "label/labelpdf.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <memory>

#include "label/labelcontent.h"
#include "label/labelsettings.h"
#include "label/qrsymbol.h"

namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;

using TSurface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using TContext = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// cairo's output: appended to the document until it would pass the bound.
cairo_status_t AppendPdfBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<QByteArray*>(closure);
    if (out->size() + static_cast<qsizetype>(length) > kMaxLabelPdfBytes)
        return CAIRO_STATUS_WRITE_ERROR;
    out->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
    return CAIRO_STATUS_SUCCESS;
}

// One line, as large as its box allows: its height fills the box's, its width at most the box's.
void DrawText(cairo_t* cr, const TMmBox& box, const QString& text, bool bold) {
    cairo_select_font_face(cr, "Noto Sans CJK JP", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    const QByteArray utf8 = text.toUtf8();
    cairo_set_font_size(cr, box.h);
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    cairo_text_extents_t ink;
    cairo_text_extents(cr, utf8.constData(), &ink);
    const double byHeight = box.h / std::max(font.ascent + font.descent, 1e-6);
    const double byWidth = box.w / std::max(ink.x_advance, 1e-6);
    const double scale = std::min(byHeight, byWidth);
    cairo_set_font_size(cr, box.h * scale);
    cairo_move_to(cr, box.x, box.y + font.ascent * scale);
    cairo_show_text(cr, utf8.constData());
}

// The symbol's dark modules, a run of a row at a time, so that no seam shows between them.
void DrawQr(cairo_t* cr, const TMmBox& box, const TQrSymbol& symbol) {
    const double module = box.w / (symbol.width + 2 * kQrQuietModules);
    const double x0 = box.x + kQrQuietModules * module;
    const double y0 = box.y + kQrQuietModules * module;
    for (int y = 0; y < symbol.width; ++y) {
        for (int x = 0; x < symbol.width;) {
            const int start = x;
            while (x < symbol.width && symbol.Dark(x, y))
                ++x;
            if (x > start)
                cairo_rectangle(cr, x0 + start * module, y0 + y * module, (x - start) * module,
                                module);
            x += x == start ? 1 : 0;
        }
    }
    cairo_fill(cr);
}

}  // namespace

QByteArray LabelPdf(const TLabelSettings& s, const TLabelContent& c, QString* error) {
    const std::optional<TQrSymbol> symbol = EncodeQr(c.mac.toUtf8());
    if (!symbol) {
        *error = QStringLiteral("MACアドレス %1 の QR コードを作れません").arg(c.mac);
        return {};
    }
    QByteArray pdf;
    TSurface surface(
        cairo_pdf_surface_create_for_stream(&AppendPdfBytes, &pdf, s.widthMm * kPointsPerMm,
                                            s.heightMm * kPointsPerMm),
        &cairo_surface_destroy);
    TContext cr(cairo_create(surface.get()), &cairo_destroy);
    cairo_scale(cr.get(), kPointsPerMm, kPointsPerMm);  // drawn in millimetres
    const TLabelLayout layout = LayOutLabel(s.widthMm, s.heightMm);
    const QStringList lines = LabelLines(c);
    for (int copy = 0; copy < s.copies; ++copy) {
        cairo_set_source_rgb(cr.get(), 0, 0, 0);
        DrawQr(cr.get(), layout.qr, *symbol);
        for (int i = 0; i < kLabelLineCount; ++i)
            DrawText(cr.get(), layout.lines[i], lines[i], i == 0);
        cairo_show_page(cr.get());
    }
    cr.reset();
    cairo_surface_finish(surface.get());
    const cairo_status_t status = cairo_surface_status(surface.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = QStringLiteral("ラベルの PDF を作れません (%1)")
                     .arg(QString::fromUtf8(cairo_status_to_string(status)));
        return {};
    }
    return pdf;
}
