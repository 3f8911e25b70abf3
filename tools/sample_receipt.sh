#!/usr/bin/env bash
# Makes a sample receipt with the batch command and copies its picture (PNG) to a file.
#   bash tools/sample_receipt.sh [shots/receipt.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-shots/receipt.png}
mkdir -p "$(dirname "$out")"
bash scripts/setup
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/items.csv" <<'CSV'
收據,買受人,統一編號,日期,品名,數量,單價,顯示免用統一發票章
1,陳小姐,,2026-12-07,凍頂烏龍茶 150g,2,350,是
1,,,,手工蛋糕,3,90,
1,,,,禮盒包裝,1,50,
CSV
mkdir -p "$work/out"
cat > "$work/out/賣方資料.toml" <<'TOML'
"商號名稱" = "林記茶行"
"統一編號" = "22099131"
"負責人" = "林大明"
"地址" = "台北市大安區和平東路一段 1 號"
"電話" = "02-2345-6789"
TOML
.venv/bin/receiptora render --output "$work/out" "$work/items.csv" >/dev/null
cp "$work"/out/2026-12/收據-20261207-001.png "$out"
echo "$out"
