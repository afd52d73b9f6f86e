// The toolkit's exit purge, the last step of the application's shutdown: releases the
// notification centre, clears and releases the data manager, and frees the calling thread's
// formatter buffer. Each singleton is forgotten, so a later getInstance would create a new one.
#pragma once

void purgeServices();
