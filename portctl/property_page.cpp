#include "portctl/property_page.h"

#include "portctl/resource_ids.h"

CPinbusPropPage::CPinbusPropPage()
    : COlePropertyPage(IDD_PROPPAGE_PINBUS, IDS_PINBUS_PPG_CAPTION) {}

void CPinbusPropPage::DoDataExchange(CDataExchange* pDX) { DDP_PostProcessing(pDX); }
