#!/bin/sh
# Draws the header logos images/<code>_logo.gif (400 x 60) for every shipped
# language: a small fax machine, the name and a tagline in the language.
# Needs ImageMagick's convert, the DejaVu fonts and, for the Japanese
# tagline, the IPA Gothic font. Run from anywhere:
#   data/make-logos.sh
set -eu
cd "$(dirname "$0")/images"

logo() {
    code=$1
    tagline=$2
    font=${3:-DejaVu-Sans}
    convert -size 400x60 xc:white \
        -fill '#1d4e89' -draw 'roundrectangle 10,22 52,50 5,5' \
        -fill '#e8eef6' -draw 'rectangle 18,8 44,30' \
        -stroke '#1d4e89' -strokewidth 1.5 -draw 'line 22,14 40,14' \
        -draw 'line 22,19 40,19' -draw 'line 22,24 36,24' -stroke none \
        -fill '#7fb2e5' -draw 'rectangle 16,34 36,38' \
        -fill white -draw 'circle 44,36 46,36' -draw 'circle 44,43 46,43' \
        -fill '#1d4e89' -font DejaVu-Sans-Bold -pointsize 30 -annotate +64+38 'Miravo' \
        -fill '#f28c28' -draw 'rectangle 64,44 178,46' \
        -fill '#4a4a4a' -font "$font" -pointsize 13 -gravity NorthEast \
        -annotate +12+38 "$tagline" \
        +dither -colors 32 "${code}_logo.gif"
}

logo en 'Fax from your desktop'
logo de 'Faxen direkt vom Desktop'
logo ru 'Факс с рабочего стола'
logo fr 'Le fax depuis votre bureau'
logo es 'Fax desde su escritorio'
logo ja 'デスクトップから FAX を送信' IPAGothic
