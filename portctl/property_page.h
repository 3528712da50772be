// CPinbusPropPage: the control's one property page, "General". It binds no property.
#pragma once

#include "platform/ctl/propertypage.h"

class CPinbusPropPage : public COlePropertyPage {
public:
    CPinbusPropPage();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
