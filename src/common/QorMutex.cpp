#include <zubdm/common/QorMutex.h>

QorMutex::~QorMutex() { pthread_mutex_destroy(mutex_.get()); }

void QorMutex::lock() { pthread_mutex_lock(mutex_.get()); }
