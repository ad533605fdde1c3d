// resources/resource_ids.h
#pragma once
#define IDI_ZELVORAN 1
