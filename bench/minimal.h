// Ids of the minimal dialog the program is measured against.
#pragma once

#define IDD_MINIMAL 1
#define IDC_CLOSE   IDOK
