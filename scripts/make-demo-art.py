#!/usr/bin/env python3
"""Regenerates the demo folder: the settings and language files (CP1251), the
panel background, the lamp icons and the alarm sound.

    python3 scripts/make-demo-art.py [DEMO_FOLDER]     (default: demo/ of this checkout)

Everything is drawn from code, so the output is the same on every run (the
JPEG is encoded by ImageMagick's `convert`, the only outside tool used). The
settings text below is the one place the panel layout lives: the background
draws its dial bezels where set.ini puts the dials.

demo/ecu-memory.ini is not made here.
"""

import math
import os
import struct
import subprocess
import sys
import tempfile
import wave

# The demo settings, as UTF-8 here; written out in CP1251. Comments never share
# a line with a value: the INI reader would take the comment as part of it.
SET_INI = """\
; Kovra Logger demo settings, made for the simulated ECU (kovra ecu-sim).
; Настройки демонстрации для имитатора ЭБУ.
;
; The file is CP1251. Lines starting with ";" are comments. Section and key
; names are Russian and matched without regard to case; every key is optional
; and a missing one takes its default.
; Numbers: decimal, or hexadecimal written $1F or 0x1F.
; Colours: 0x00BBGGRR (red in the lowest byte), e.g. 0x000000FF is red,
; 0x0000FF00 green, 0x00FF0000 blue.
; Reals (alarm levels) use the decimal separator of the user's locale. The
; demo runs under a C/English locale, so they are written with a point; under
; a Russian locale write 12,0 instead of 12.0 (an unreadable value gives 10).
; Whole-number levels such as 6000 read the same under every locale.
;
; The ECU's memory map (0x10..0x1A) that this file polls:
;   0x10-0x11 engine speed, rpm (high, low)    0x16-0x17 injection time, 4 us units
;   0x12 coolant, degC + 40                    0x18 battery, 0.1 V
;   0x13 intake air, degC + 40                 0x19 status bits: 1 running,
;   0x14 throttle, 0..255                           2 check engine, 3 fan,
;   0x15 vehicle speed, km/h                        4 closed-loop lambda
;                                              0x1A engine torque, 2 N*m units

; ---------------------------------------------------------------------------
; General settings / общие настройки
[настройки]
; 1 = full screen, always on top, without a title bar.
на_весь_экран=0
; Panel colour: behind the strip charts, the gauge panel and the chart tab.
цвет_фона=0x00201C1A
; Serial port. "com1" is the first serial port; any other name is a device:
; ttyUSB0 means /dev/ttyUSB0, and a name starting with ./ is a path relative to
; the working folder. The demo launcher links ./ecu to the simulator's terminal.
порт=./ecu
; 1 = OBD line: 10400 bit/s instead of 9600, and a wake-up frame between repeats.
вид_ОБД=0
; 1 = every reply starts with 5 preamble bytes, which are skipped.
преамбула=1
; Reply timeout in ms: a request without a complete reply is sent again.
таймаут_отв=500
; How many memory areas, formulas, strip charts and gauges follow (1..255 each).
кол-во_областей=3
кол-во_формул=15
кол-во_логов=6
кол-во_приборов=16
; Strip charts: text colour and text height in pixels.
цвет_шрифта=0x00E0E0E0
размер_шрифта=14
; Language of the tab and button captions: lang\\ru.ini or lang\\en.ini.
язык=ru
; Chart tab ("Момент"): formula plotted upward (7, torque), the strip chart
; whose formula is the X value (0, engine speed; its макс_знач is X's full
; scale) and the value at the top edge.
Момент_Формула=7
Момент_Х=0
Момент_У_макс=300
; 1 = draw the gauge tab double-buffered (no flicker).
буферизация_экрана=1
; 1 = start recording the log at once, without pressing the button.
авто_старт_логов=0

; ---------------------------------------------------------------------------
; Memory areas, polled one request each, in this order; their bytes lie side by
; side in the sample buffer (area 0 at 0..5, area 1 at 6..8, area 2 at 9..10).
; смещение_N: start address in the ECU; размер_N: number of bytes (at most 76).
[области]
; engine speed, coolant, intake air, throttle, vehicle speed
смещение_0=0x10
размер_0=6
; injection time, battery
смещение_1=0x16
размер_1=3
; status bits, torque
смещение_2=0x19
размер_2=2

; ---------------------------------------------------------------------------
; Formulas, evaluated in this order on every completed cycle; strip charts,
; gauges and other formulas name them by their number N of [формула_N].
;   название      name (also the key of a running total in log.sv)
;   суммировать   1 = add each result to the value (a running total kept
;                 across runs in log.sv) instead of replacing it
;   кол-во_перем  number of variables; then for each variable N:
;   переменная_N  its name in the formula: letters and digits, not starting
;                 with a function name (sin, ln, ...)
;   вид_N         0 = a byte of an area, 1 = the value of another formula,
;                 2 = seconds since the previous cycle
;   область_пер_N, отступ_пер_N   kind 0: area number and byte offset in it
;   бит_N, номер_бита_N           kind 0: take one bit, 1 = least significant
;   номер_формулы_N               kind 1: the formula whose value is taken
;   формула       the formula: + - * / ^ mod, brackets, numbers such as 0.5
;                 (digits on both sides of the point), sin cos tg ctg ln lg
;                 exp abs ind. A minus may open the formula or a bracket, but
;                 not follow an operator: write x*(-1), not x*-1.

[формула_0]
название=Обороты
кол-во_перем=2
переменная_0=rpmhi
вид_0=0
область_пер_0=0
отступ_пер_0=0
переменная_1=rpmlo
вид_1=0
область_пер_1=0
отступ_пер_1=1
формула=rpmhi*256+rpmlo

[формула_1]
название=Температура ОЖ
кол-во_перем=1
переменная_0=clt
вид_0=0
область_пер_0=0
отступ_пер_0=2
формула=clt-40

[формула_2]
название=Температура воздуха
кол-во_перем=1
переменная_0=iat
вид_0=0
область_пер_0=0
отступ_пер_0=3
формула=iat-40

[формула_3]
название=Дроссель
кол-во_перем=1
переменная_0=tps
вид_0=0
область_пер_0=0
отступ_пер_0=4
формула=tps*100/255

[формула_4]
название=Скорость
кол-во_перем=1
переменная_0=vss
вид_0=0
область_пер_0=0
отступ_пер_0=5
формула=vss

; Injection time in ms: a 16-bit count of 4-microsecond units.
[формула_5]
название=Время впрыска
кол-во_перем=2
переменная_0=injhi
вид_0=0
область_пер_0=1
отступ_пер_0=0
переменная_1=injlo
вид_1=0
область_пер_1=1
отступ_пер_1=1
формула=(injhi*256+injlo)/250

[формула_6]
название=Напряжение АКБ
кол-во_перем=1
переменная_0=batt
вид_0=0
область_пер_0=1
отступ_пер_0=2
формула=batt/10

; Torque in N*m, plotted against engine speed on the chart tab.
[формула_7]
название=Крутящий момент
кол-во_перем=1
переменная_0=trq
вид_0=0
область_пер_0=2
отступ_пер_0=1
формула=trq*2

; Single bits of the status byte: 1 or 0.
[формула_8]
название=Вентилятор
кол-во_перем=1
переменная_0=fan
вид_0=0
область_пер_0=2
отступ_пер_0=0
бит_0=1
номер_бита_0=3
формула=fan

[формула_9]
название=Check Engine
кол-во_перем=1
переменная_0=chk
вид_0=0
область_пер_0=2
отступ_пер_0=0
бит_0=1
номер_бита_0=2
формула=chk

[формула_10]
название=Лямбда-регулирование
кол-во_перем=1
переменная_0=lambda
вид_0=0
область_пер_0=2
отступ_пер_0=0
бит_0=1
номер_бита_0=4
формула=lambda

; Power in kW from two other formulas (kind 1): torque * rpm / 9549.
[формула_11]
название=Мощность
кол-во_перем=2
переменная_0=torque
вид_0=1
номер_формулы_0=7
переменная_1=rpm
вид_1=1
номер_формулы_1=0
формула=torque*rpm/9549

; Fuel flow in l/h: four injectors of 250 cc/min, each opening once per two
; revolutions, give rpm * ms * 0.0005 litres per hour.
[формула_12]
название=Расход
кол-во_перем=2
переменная_0=inj
вид_0=1
номер_формулы_0=5
переменная_1=rpm
вид_1=1
номер_формулы_1=0
формула=inj*rpm*0.0005

; Fuel used in litres, a running total: flow (l/h) times the seconds since the
; previous cycle (kind 2), added up on every cycle and kept in log.sv.
[формула_13]
название=Топливо
суммировать=1
кол-во_перем=2
переменная_0=flow
вид_0=1
номер_формулы_0=12
переменная_1=dt
вид_1=2
формула=flow*dt/3600

; Distance in km, a running total straight from the speed byte.
[формула_14]
название=Пробег
суммировать=1
кол-во_перем=2
переменная_0=vss
вид_0=0
область_пер_0=0
отступ_пер_0=5
переменная_1=dt
вид_1=2
формула=vss*dt/3600

; ---------------------------------------------------------------------------
; Strip charts on the "Графики" tab, stacked top to bottom.
;   высота      height in pixels          формула   formula shown
;   название    caption                   цвет      trace colour 0x00BBGGRR
;   макс_знач, мин_знач   values at the top and bottom edges (whole numbers)

[логер_0]
название=Обороты, об/мин
формула=0
высота=140
макс_знач=8000
мин_знач=0
цвет=0x000090FF

[логер_1]
название=Скорость, км/ч
формула=4
высота=110
макс_знач=200
мин_знач=0
цвет=0x00FFC840

[логер_2]
название=ОЖ, °C
формула=1
высота=100
макс_знач=120
мин_знач=0
цвет=0x005050F0

[логер_3]
название=Дроссель, %
формула=3
высота=100
макс_знач=100
мин_знач=0
цвет=0x0060D060

[логер_4]
название=Впрыск, мс
формула=5
высота=100
макс_знач=20
мин_знач=0
цвет=0x00F080C0

[логер_5]
название=Расход, л/ч
формула=12
высота=100
макс_знач=60
мин_знач=0
цвет=0x0000D8F8

; ---------------------------------------------------------------------------
; Gauges on the "Приборы" tab. Positions and sizes are panel units: the panel
; is 444 units wide and 249.75 high, whatever the window's size.
;   Название   caption; an icon lamp shows the picture icons\\<Название>.bmp,
;              whose black pixels let the panel show through
;   Вид        0 round dial, 1 bar gauge, 2 digital readout,
;              3 caption lamp, 4 icon lamp
;   Формула    formula shown
;   Размер     dial: radius (its box is 2*Размер square); bar: half its length;
;              text height is 0.2*Размер
;   Х, У       left and top edge (Cyrillic letters)
;   Минимум, Максимум   scale ends
;   ГрадацияШк   number of scale intervals
;   Кол-воЦиврШк   characters kept of each numeral (1 turns 8000 into 8)
;                  and of a readout's value
;   НачУгол, КонУгол   dial: directions of the minimum and maximum, degrees
;                      counterclockwise from 3 o'clock
;   Горизонтальный   bar: 1 = upright bar (horizontal marks), 0 = lying bar
;   Реверс           bar: 1 = scale runs the other way
;   ЦветШк, ЦветСтр, ЦветТекст   colours of scale, needle, text
;   Тревога      1 = alarm on: dials and bars show a red zone, readouts and
;                caption lamps turn red, icon lamps light up
;   ТревогаНиже  1 = alarm while the value is at or below the level,
;                0 = while it is above
;   ТревогаУровень   alarm level (a real, see the top of the file)
;   ТревогаЗвук  1 = play alarm.wav while the alarm holds

; Tachometer: numerals cut to one character read as thousands (8000 shows 8).
[Прибор_0]
Название=об/мин
Вид=0
Формула=0
Размер=78
Х=6
У=6
Минимум=0
Максимум=8000
ГрадацияШк=8
Кол-воЦиврШк=1
НачУгол=225
КонУгол=-45
ЦветШк=0x00E8E8E8
ЦветСтр=0x000080FF
ЦветТекст=0x00F0F0F0
Тревога=1
ТревогаНиже=0
ТревогаУровень=6000
ТревогаЗвук=0

[Прибор_1]
Название=км/ч
Вид=0
Формула=4
Размер=78
Х=282
У=6
Минимум=0
Максимум=180
ГрадацияШк=9
Кол-воЦиврШк=3
НачУгол=225
КонУгол=-45
ЦветШк=0x00E8E8E8
ЦветСтр=0x000080FF
ЦветТекст=0x00F0F0F0
Тревога=0

; Coolant: a small dial that sounds the alarm above 100 degrees.
[Прибор_2]
Название=ОЖ, °C
Вид=0
Формула=1
Размер=36
Х=186
У=8
Минимум=0
Максимум=120
ГрадацияШк=6
Кол-воЦиврШк=3
НачУгол=225
КонУгол=-45
ЦветШк=0x00E8E8E8
ЦветСтр=0x000080FF
ЦветТекст=0x00F0F0F0
Тревога=1
ТревогаНиже=0
ТревогаУровень=100
ТревогаЗвук=1

; Throttle under the tachometer: a lying bar, minimum on the left.
[Прибор_3]
Название=Дроссель, %
Вид=1
Формула=3
Размер=60
Х=16
У=172
Минимум=0
Максимум=100
ГрадацияШк=5
Кол-воЦиврШк=3
Горизонтальный=0
Реверс=0
ЦветШк=0x00D8D8D8
ЦветСтр=0x000080FF
ЦветТекст=0x00F0F0F0
Тревога=0

; Injection time under the speedometer, mirrored: its scale runs right to left.
[Прибор_4]
Название=Впрыск, мс
Вид=1
Формула=5
Размер=60
Х=308
У=172
Минимум=0
Максимум=20
ГрадацияШк=4
Кол-воЦиврШк=2
Горизонтальный=0
Реверс=1
ЦветШк=0x00D8D8D8
ЦветСтр=0x000080FF
ЦветТекст=0x00F0F0F0
Тревога=1
ТревогаНиже=0
ТревогаУровень=12
ТревогаЗвук=0

; Two upright bars, minimum at the bottom.
[Прибор_5]
Название=Впуск, °C
Вид=1
Формула=2
Размер=40
Х=176
У=166
Минимум=0
Максимум=60
ГрадацияШк=3
Кол-воЦиврШк=2
Горизонтальный=1
Реверс=0
ЦветШк=0x00D8D8D8
ЦветСтр=0x000080FF
ЦветТекст=0x00F0F0F0
Тревога=1
ТревогаНиже=0
ТревогаУровень=40
ТревогаЗвук=0

[Прибор_6]
Название=кВт
Вид=1
Формула=11
Размер=40
Х=240
У=166
Минимум=0
Максимум=150
ГрадацияШк=3
Кол-воЦиврШк=3
Горизонтальный=1
Реверс=0
ЦветШк=0x00D8D8D8
ЦветСтр=0x000080FF
ЦветТекст=0x00F0F0F0
Тревога=0

; Battery: turns red at 12.0 V and below (a below-alarm).
[Прибор_7]
Название=АКБ, В
Вид=2
Формула=6
Размер=40
Х=172
У=94
Кол-воЦиврШк=4
ЦветТекст=0x00F0F0F0
Тревога=1
ТревогаНиже=1
ТревогаУровень=12.0
ТревогаЗвук=0

[Прибор_8]
Название=Расход, л/ч
Вид=2
Формула=12
Размер=40
Х=228
У=94
Кол-воЦиврШк=4
ЦветТекст=0x00F0F0F0
Тревога=0

[Прибор_9]
Название=Топливо, л
Вид=2
Формула=13
Размер=40
Х=172
У=124
Кол-воЦиврШк=6
ЦветТекст=0x00F0F0F0
Тревога=0

; Trip distance, set into the speedometer's face like an odometer.
[Прибор_10]
Название=Пробег, км
Вид=2
Формула=14
Размер=40
Х=341
У=134
Кол-воЦиврШк=6
ЦветТекст=0x00C8C8C8
Тревога=0

; Icon lamps in the tachometer's face: dark while the alarm does not hold,
; lit while it does.
[Прибор_11]
Название=CHECK
Вид=4
Формула=9
Размер=60
Х=62
У=138
Тревога=1
ТревогаНиже=0
ТревогаУровень=0

; Shift light: lit and beeping above 6000 rpm.
[Прибор_12]
Название=SHIFT
Вид=4
Формула=0
Размер=60
Х=88
У=138
Тревога=1
ТревогаНиже=0
ТревогаУровень=6000
ТревогаЗвук=1

; Caption lamps along the bottom edge: grey while off, red while the alarm holds.
[Прибор_13]
Название=ВЕНТИЛЯТОР
Вид=3
Формула=8
Размер=36
Х=16
У=232
ЦветТекст=0x00707070
Тревога=1
ТревогаНиже=0
ТревогаУровень=0

; Lambda control drops out (open loop) at full throttle: a below-alarm.
[Прибор_14]
Название=ЛЯМБДА
Вид=3
Формула=10
Размер=36
Х=78
У=232
ЦветТекст=0x00707070
Тревога=1
ТревогаНиже=1
ТревогаУровень=0

; Torque, the value the chart tab plots against engine speed.
[Прибор_15]
Название=Момент, Н·м
Вид=2
Формула=7
Размер=40
Х=228
У=124
Кол-воЦиврШк=5
ЦветТекст=0x00F0F0F0
Тревога=0

; ---------------------------------------------------------------------------
; Clock on the gauge panel: size, left and top edge in panel units, colour.
[Часы]
Отображать=1
Размер=60
Х=370
У=230
Цвет=0x00C8C8C8
"""

LANG = {
    "ru": {"TabSheet1": "Графики", "TabSheet2": "Приборы", "TabSheet3": "Момент",
           "Button1": "выход", "Button2": "Запись лога", "Button3": "Открыть лог",
           # The link's status line in the tab row; %1, %2: names and numbers.
           "StatusPortOpen": "Порт %1 открыт",
           "StatusPortWaiting": "Порт %1 открывается",
           "StatusPortMissing": "Порт %1 не найден, ожидание",
           "StatusPortCannotOpen": "Порт %1 не открывается: %2",
           "StatusPortNoAccess": "Нет доступа к порту %1: войдите в группу %2 и перезайдите в систему",
           "StatusPortGone": "Адаптер %1 пропал (%2), переподключение",
           "StatusEcuWaiting": "ожидание ответа ЭБУ",
           "StatusEcuAnswering": "ЭБУ отвечает: %1 цикл/с",
           "StatusEcuSilent": "ЭБУ молчит %1 с, запрос повторяется",
           "StatusDropped": "пропущено на экране: %1",
           "StatusReplay": "лог %1, %2"},
    "en": {"TabSheet1": "Charts", "TabSheet2": "Gauges", "TabSheet3": "Power run",
           "Button1": "Exit", "Button2": "Record log", "Button3": "Open log",
           "StatusPortOpen": "Port %1 open",
           "StatusPortWaiting": "Opening port %1",
           "StatusPortMissing": "Port %1 not found, waiting for it",
           "StatusPortCannotOpen": "Port %1 cannot be opened: %2",
           "StatusPortNoAccess": "No access to port %1: join group %2 and log in again",
           "StatusPortGone": "Adapter %1 gone (%2), reopening",
           "StatusEcuWaiting": "waiting for the ECU",
           "StatusEcuAnswering": "ECU answering: %1 cycles/s",
           "StatusEcuSilent": "ECU silent for %1 s, re-sending",
           "StatusDropped": "not drawn: %1",
           "StatusReplay": "log %1, %2"},
}
LANG_KEYS = ["TabSheet1", "TabSheet2", "TabSheet3", "Button1", "Button2", "Button3",
             "StatusPortOpen", "StatusPortWaiting", "StatusPortMissing", "StatusPortCannotOpen",
             "StatusPortNoAccess", "StatusPortGone", "StatusEcuWaiting", "StatusEcuAnswering",
             "StatusEcuSilent", "StatusDropped", "StatusReplay"]

BACK_SIZE = (1280, 720)  # 16:9, the panel's own proportions
PANEL_UNITS = 444


def write_cp1251(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("cp1251"))


def parse_ini(text):
    """Sections of an INI text as {lowercased name: {lowercased key: value}}."""
    sections, cur = {}, None
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            cur = sections.setdefault(line[1:-1].lower(), {})
        elif "=" in line and cur is not None:
            k, v = line.split("=", 1)
            cur[k.strip().lower()] = v.strip()
    return sections


def int_value(text, default=0):
    t = text.strip()
    try:
        if t.startswith("$"):
            return int(t[1:], 16)
        if t[:2].lower() == "0x" and len(t) > 2:
            return int(t[2:], 16)
        return int(t)
    except ValueError:
        return default


def dials(ini):
    """(cx, cy, r) in panel units of every round dial of the settings."""
    general = ini.get("настройки", {})
    count = int_value(general.get("кол-во_приборов", "1"), 1)
    out = []
    for g in range(count):
        sec = ini.get("прибор_%d" % g, {})
        if int_value(sec.get("вид", "0")) != 0:
            continue
        s = int_value(sec.get("размер", "50"), 50)
        x = int_value(sec.get("х", "50"), 50)
        y = int_value(sec.get("у", "50"), 50)
        out.append((x + s, y + s, s))
    return out


# --- background ------------------------------------------------------------

def smoothstep(e0, e1, x):
    t = min(1.0, max(0.0, (x - e0) / (e1 - e0)))
    return t * t * (3 - 2 * t)


def background_pixels(width, height, bezels):
    """A dark carbon weave under a soft vignette, with a recessed face and a
    thin brushed ring wherever a dial stands. Returns packed RGB bytes."""
    unit = width / PANEL_UNITS
    rings = [(cx * unit, cy * unit, r * unit) for cx, cy, r in bezels]
    cell = 6
    out = bytearray(width * height * 3)
    mx, my = width / 2, height * 0.42
    maxd = math.hypot(width / 2, height * 0.58)
    for y in range(height):
        row = y * width * 3
        cy_cell = y // cell
        ty = (y % cell + 0.5) / cell
        for x in range(width):
            cx_cell = x // cell
            tx = (x % cell + 0.5) / cell
            # Twill: neighbouring cells run crosswise, shifted one cell a row.
            if (cx_cell + cy_cell // 2) % 2:
                weave = math.sin(math.pi * tx)
            else:
                weave = math.sin(math.pi * ty)
            d = math.hypot(x - mx, y - my) / maxd
            light = 1.0 - 0.55 * smoothstep(0.25, 1.05, d)
            v = (20 + 9 * weave) * light
            r, g, b = v * 0.95, v * 1.0, v * 1.12
            for rx, ry, rr in rings:
                dx, dy = x - rx, y - ry
                if abs(dx) > rr * 1.12 or abs(dy) > rr * 1.12:
                    continue
                dist = math.hypot(dx, dy) / rr
                # Recessed face: darker toward the rim, the weave fainter.
                face = 1.0 - smoothstep(0.99, 1.01, dist)
                if face > 0:
                    depth = 0.55 + 0.25 * (1 - dist * dist)
                    base = 13 * depth + 4 * weave * depth
                    r = r * (1 - face) + base * 0.95 * face
                    g = g * (1 - face) + base * 1.0 * face
                    b = b * (1 - face) + base * 1.15 * face
                # Ring just outside the scale, lit from above.
                ring = smoothstep(1.015, 1.03, dist) * (1 - smoothstep(1.055, 1.07, dist))
                if ring > 0:
                    up = -dy / (dist * rr) if dist > 0 else 0
                    metal = 62 + 38 * up
                    r = r * (1 - ring) + metal * ring
                    g = g * (1 - ring) + metal * 1.02 * ring
                    b = b * (1 - ring) + metal * 1.08 * ring
            i = row + x * 3
            out[i] = min(255, int(r + 0.5))
            out[i + 1] = min(255, int(g + 0.5))
            out[i + 2] = min(255, int(b + 0.5))
    return bytes(out)


def write_back_jpg(path, bezels):
    w, h = BACK_SIZE
    pixels = background_pixels(w, h, bezels)
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "back.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (w, h))
            f.write(pixels)
        # Baseline, 4:2:0, no metadata: what any JPEG decoder reads.
        subprocess.run(["convert", ppm, "-strip", "-interlace", "none",
                        "-sampling-factor", "2x2", "-quality", "88", path], check=True)


# --- icons -------------------------------------------------------------------

class Raster:
    """A small RGB picture with hard-edged shapes (no anti-aliasing: the lamp
    treats exactly black pixels as transparent, so edges must not blend)."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0, 0, 0)] * w for _ in range(h)]

    def polygon(self, pts, colour):
        # Even-odd fill sampled at pixel centres.
        for y in range(self.h):
            yc = y + 0.5
            xs = []
            for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]):
                if (y1 <= yc < y2) or (y2 <= yc < y1):
                    xs.append(x1 + (yc - y1) * (x2 - x1) / (y2 - y1))
            xs.sort()
            for a, b in zip(xs[0::2], xs[1::2]):
                for x in range(self.w):
                    if a <= x + 0.5 < b:
                        self.px[y][x] = colour

    def rect(self, x1, y1, x2, y2, colour):
        self.polygon([(x1, y1), (x2, y1), (x2, y2), (x1, y2)], colour)

    def bmp(self):
        """24-bit uncompressed BMP, rows bottom-up, each padded to 4 bytes."""
        stride = (self.w * 3 + 3) & ~3
        body = bytearray()
        for y in range(self.h - 1, -1, -1):
            for r, g, b in self.px[y]:
                body += bytes((b, g, r))
            body += b"\0" * (stride - self.w * 3)
        header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.w, self.h, 1, 24, 0, len(body),
                           2835, 2835, 0, 0)
        return header + info + bytes(body)


AMBER = (255, 176, 0)
BLACK = (0, 0, 0)


def check_engine_icon():
    """The engine outline of the check-engine telltale, amber."""
    r = Raster(64, 48)
    r.rect(21, 5, 41, 10, AMBER)           # oil cap
    r.rect(28, 10, 34, 15, AMBER)          # its stem
    r.polygon([(12, 15), (46, 15), (46, 41), (18, 41), (12, 35)], AMBER)   # block
    r.polygon([(16, 19), (42, 19), (42, 37), (20, 37), (16, 33)], BLACK)   # hollow
    r.rect(5, 22, 12, 27, AMBER)           # intake stub
    r.rect(2, 17, 6, 33, AMBER)
    r.polygon([(46, 22), (55, 16), (55, 40), (46, 34)], AMBER)            # fan
    r.rect(57, 14, 61, 42, AMBER)
    return r


def shift_icon():
    """An upward arrow over a bar: change up a gear."""
    red = (255, 48, 32)
    r = Raster(64, 48)
    r.polygon([(32, 3), (54, 25), (41, 25), (41, 37), (23, 37), (23, 25), (10, 25)], red)
    r.rect(16, 40, 48, 45, red)
    return r


# --- sound ---------------------------------------------------------------------

def write_alarm_wav(path):
    """Two tones, 880 Hz then 1320 Hz, 0.2 s each, with 5 ms ramps against clicks."""
    rate, amp = 22050, 0.45 * 32767
    frames = bytearray()
    for freq in (880.0, 1320.0):
        n = int(rate * 0.2)
        ramp = int(rate * 0.005)
        for i in range(n):
            env = min(1.0, i / ramp, (n - 1 - i) / ramp)
            s = int(round(amp * env * math.sin(2 * math.pi * freq * i / rate)))
            frames += struct.pack("<h", s)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    demo = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "demo")
    os.makedirs(os.path.join(demo, "lang"), exist_ok=True)
    os.makedirs(os.path.join(demo, "icons"), exist_ok=True)

    write_cp1251(os.path.join(demo, "set.ini"), SET_INI)
    for name, captions in LANG.items():
        text = "[Logger]\n" + "".join("%s=%s\n" % (k, captions[k]) for k in LANG_KEYS)
        write_cp1251(os.path.join(demo, "lang", name + ".ini"), text)

    with open(os.path.join(demo, "icons", "CHECK.bmp"), "wb") as f:
        f.write(check_engine_icon().bmp())
    with open(os.path.join(demo, "icons", "SHIFT.bmp"), "wb") as f:
        f.write(shift_icon().bmp())
    write_alarm_wav(os.path.join(demo, "alarm.wav"))
    write_back_jpg(os.path.join(demo, "back.jpg"), dials(parse_ini(SET_INI)))


if __name__ == "__main__":
    main()
