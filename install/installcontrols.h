#pragma once

#include <QString>

// The main window's controls as the installer reads them: afresh, each time it needs one.
class InstallControls
{
public:
    virtual ~InstallControls() = default;

    virtual QString Text1() const = 0; // game folder
    virtual QString Text2() const = 0; // model file
    virtual QString Text3() const = 0; // the car's Maps folder
    virtual void setText3(const QString &text) = 0;
    virtual int Combo1ListIndex() const = 0;   // -1 when no car is chosen
    virtual int CheckValue(int box) const = 0; // box 1 to 4: 0 unticked, 1 ticked
};
