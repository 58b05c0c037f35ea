#include "install/installcar.h"

#include "runtime/listing.h"
#include "runtime/messagebox.h"
#include "runtime/textconv.h"

#include <exception>

using namespace Qt::StringLiterals;
using runtime::Listing;

namespace {

// A check whose test cannot even be made counts as failed.
template <typename Test> bool passes(Test test)
{
    try {
        return test();
    } catch (const std::exception &) {
        return false;
    }
}

// Shows a failed check's message; the install then ends.
void fail(const QString &message)
{
    runtime::MsgBox(message, runtime::vbCritical, messages::ErrorTitle);
}

bool checksPass(InstallControls &form, ColourSelection &ColourSelected)
{
    // The Maps folder always ends in a separator from here on, also in the field.
    if (runtime::lastChar(form.Text3()) != u"\\"_s)
        form.setText3(form.Text3() + u"\\"_s);

    if (!passes([&] {
            return !form.Text1().isEmpty() &&
                   !Listing().first(form.Text1() + u"/a0.dta"_s).isEmpty();
        })) {
        fail(messages::BadGameFolder);
        return false;
    }
    if (!passes([&] { return !Listing().first(form.Text2()).isEmpty(); })) {
        fail(messages::BadModelFile);
        return false;
    }
    if (!passes([&] { return !Listing().first(form.Text3() + u"\\"_s).isEmpty(); })) {
        fail(messages::BadMapsFolder);
        return false;
    }
    if (!passes([&] {
            const QString bmp = Listing().first(form.Text3() + u"\\*.bmp"_s);
            const QString tga = Listing().first(form.Text3() + u"\\*.tga"_s);
            return !(bmp.isEmpty() && tga.isEmpty());
        })) {
        fail(messages::NoTextures);
        return false;
    }
    if (form.Combo1ListIndex() == -1) {
        fail(messages::NoCar);
        return false;
    }
    if (form.CheckValue(1) == 0 && form.CheckValue(2) == 0 && form.CheckValue(3) == 0 &&
        form.CheckValue(4) == 0) {
        fail(messages::NoColour);
        return false;
    }

    for (int i = 0; i < 4; ++i)
        ColourSelected[i] = false;
    for (int box = 1; box <= 4; ++box) {
        if (form.CheckValue(box) == 1)
            ColourSelected[box - 1] = true;
    }
    return true;
}

} // namespace

void InstallCar(InstallControls &form, const CarTable &cars, ColourSelection &ColourSelected)
{
    if (!checksPass(form, ColourSelected))
        return;
    Q_UNUSED(cars);
}
