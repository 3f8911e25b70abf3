// The keys of a receipt request (the dictionary the window hands to the receipt worker, and
// the batch command builds from its files) and of the seller profile. Every reader and writer
// of either spells the keys through these names.
#pragma once

#include <array>

namespace receiptora::request_keys {

inline constexpr const char* kTemplate = "版本";
inline constexpr const char* kBuyer = "買受人";
inline constexpr const char* kBuyerTaxId = "買受人統一編號";
inline constexpr const char* kItemNames = "品名";
inline constexpr const char* kQuantities = "數量";
inline constexpr const char* kUnitPrices = "單件價格";
inline constexpr const char* kOutputFolder = "存檔路徑";
inline constexpr const char* kShowExemptionStamp = "顯示免用統一發票章";
inline constexpr const char* kShowOwnerSeal = "顯示負責人章";
inline constexpr const char* kShowDate = "顯示日期";
inline constexpr const char* kYear = "年";
inline constexpr const char* kMonth = "月";
inline constexpr const char* kDay = "日";
// Optional: a note per item, beside the thirteen (the batch command's 備註 column).
inline constexpr const char* kNotes = "備註";

// All thirteen, in the order the window writes them.
inline constexpr std::array<const char*, 13> kAll = {
    kTemplate,           kBuyer,         kBuyerTaxId, kItemNames, kQuantities, kUnitPrices, kOutputFolder,
    kShowExemptionStamp, kShowOwnerSeal, kShowDate,   kYear,      kMonth,      kDay};

// The receipt options the window keeps between presses and copies into every request.
inline constexpr std::array<const char*, 6> kOptions = {
    kShowExemptionStamp, kShowOwnerSeal, kShowDate, kYear, kMonth, kDay};

}  // namespace receiptora::request_keys

namespace receiptora::seller_keys {

inline constexpr const char* kName = "商號名稱";
inline constexpr const char* kTaxId = "統一編號";
inline constexpr const char* kOwner = "負責人";
inline constexpr const char* kAddress = "地址";
inline constexpr const char* kPhone = "電話";
// Optional: PNG pictures used instead of the drawn stamps.
inline constexpr const char* kExemptionStampImage = "免用統一發票章圖檔";
inline constexpr const char* kOwnerSealImage = "負責人章圖檔";

}  // namespace receiptora::seller_keys
