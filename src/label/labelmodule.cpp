// The entry of the label's drawing module (labelrender.h).
#include "label/cupsqueue.h"
#include "label/labelpdf.h"
#include "label/labelrender.h"

extern "C" __attribute__((visibility("default"))) const TLabelRender* NbLabelRenderTable() {
    static const TLabelRender table{&LabelPdf, &PrintOnCupsQueue};
    return &table;
}
