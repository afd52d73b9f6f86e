#include "purgeServices.h"

#include "NSDataManager.h"
#include "NSHttpClient.h"
#include "NSNotificationCenter.h"
#include "NSStringUtil.h"

void purgeServices()
{
    NSUI::NSNotificationCenter::destroyInstance();
    NSUI::NSDataManager::destroyInstance();
    NSUI::NSHttpClient::destroyInstance();
    releaseFormatBuffer();
}
