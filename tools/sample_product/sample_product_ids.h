#pragma once

// Identifiers of the sample product's texts. Text k of the translation table (k = 1 to 11) is the
// string resource IDS_FIRST_TEXT + k - 1, shown in the static control of the same identifier.
#define IDS_FIRST_TEXT 101
#define SAMPLE_TEXT_COUNT 11

// The class of the product's top-level window, by which tests can find it.
#define SAMPLE_PRODUCT_WINDOW_CLASS L"QuorvikSampleProduct"
