<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>KestIpDataForm</name>
    <message>
        <source>Kest IP Data</source>
        <translation>Kest IP Data</translation>
    </message>
    <message>
        <source>Provider</source>
        <translation>Провайдер</translation>
    </message>
    <message>
        <source>New</source>
        <translation>Новый</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Обновить</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Tuner</source>
        <translation>Тюнер</translation>
    </message>
    <message>
        <source>Tuner status</source>
        <translation>Состояние тюнера</translation>
    </message>
    <message>
        <source>Quality %</source>
        <translation>Качество, %</translation>
    </message>
    <message>
        <source>&lt;p align=&quot;left&quot;&gt;0&lt;/p&gt;</source>
        <translation>&lt;p align=&quot;left&quot;&gt;0&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p align=&quot;center&quot;&gt;0&lt;/p&gt;</source>
        <translation>&lt;p align=&quot;center&quot;&gt;0&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p align=&quot;right&quot;&gt;100&lt;/p&gt;</source>
        <translation>&lt;p align=&quot;right&quot;&gt;100&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Level %</source>
        <translation>Уровень, %</translation>
    </message>
    <message>
        <source>Tuner setting</source>
        <translation>Настройка тюнера</translation>
    </message>
    <message>
        <source>Freqency (MHz):</source>
        <translation>Частота (МГц):</translation>
    </message>
    <message>
        <source>Symbol rate (kS/s):</source>
        <translation>Символьная скорость (кС/с):</translation>
    </message>
    <message>
        <source>Polarisation:</source>
        <translation>Поляризация:</translation>
    </message>
    <message>
        <source>H (+18)</source>
        <translation>H (+18)</translation>
    </message>
    <message>
        <source>V (+13)</source>
        <translation>V (+13)</translation>
    </message>
    <message>
        <source>Mode:</source>
        <translation>Режим:</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Авто</translation>
    </message>
    <message>
        <source>DVB-S</source>
        <translation>DVB-S</translation>
    </message>
    <message>
        <source>DVB-S2</source>
        <translation>DVB-S2</translation>
    </message>
    <message>
        <source>FEC:</source>
        <translation>FEC:</translation>
    </message>
    <message>
        <source>1/2</source>
        <translation>1/2</translation>
    </message>
    <message>
        <source>2/3</source>
        <translation>2/3</translation>
    </message>
    <message>
        <source>3/4</source>
        <translation>3/4</translation>
    </message>
    <message>
        <source>3/5</source>
        <translation>3/5</translation>
    </message>
    <message>
        <source>4/5</source>
        <translation>4/5</translation>
    </message>
    <message>
        <source>5/6</source>
        <translation>5/6</translation>
    </message>
    <message>
        <source>5/11</source>
        <translation>5/11</translation>
    </message>
    <message>
        <source>8/9</source>
        <translation>8/9</translation>
    </message>
    <message>
        <source>9/10</source>
        <translation>9/10</translation>
    </message>
    <message>
        <source>STATUS:</source>
        <translation>СОСТОЯНИЕ:</translation>
    </message>
    <message>
        <source>Start and hide</source>
        <translation>Запускать свёрнутым</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>Применить</translation>
    </message>
    <message>
        <source>LNB</source>
        <translation>LNB</translation>
    </message>
    <message>
        <source>Type:</source>
        <translation>Тип:</translation>
    </message>
    <message>
        <source>LNB type</source>
        <translation>Тип конвертера</translation>
    </message>
    <message>
        <source>UNIVERSAL</source>
        <translation>Универсальный</translation>
    </message>
    <message>
        <source>C-BAND</source>
        <translation>C-диапазон</translation>
    </message>
    <message>
        <source>KU-CIRCULAR</source>
        <translation>Ku, круговая</translation>
    </message>
    <message>
        <source>CUSTOM</source>
        <translation>Пользовательский</translation>
    </message>
    <message>
        <source>LOF 1:</source>
        <translation>Гетеродин 1:</translation>
    </message>
    <message>
        <source>9750</source>
        <translation>9750</translation>
    </message>
    <message>
        <source>MHz</source>
        <translation>МГц</translation>
    </message>
    <message>
        <source>Switch:</source>
        <translation>Переключение:</translation>
    </message>
    <message>
        <source>11700</source>
        <translation>11700</translation>
    </message>
    <message>
        <source>LOF 2:</source>
        <translation>Гетеродин 2:</translation>
    </message>
    <message>
        <source>10600</source>
        <translation>10600</translation>
    </message>
    <message>
        <source>Power status</source>
        <translation>Состояние питания</translation>
    </message>
    <message>
        <source>Power on/off</source>
        <translation>Включить/выключить питание конвертера</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Питание</translation>
    </message>
    <message>
        <source>DiSEqC</source>
        <translation>DiSEqC</translation>
    </message>
    <message>
        <source>DiSEqC 1.2</source>
        <translation>DiSEqC 1.2</translation>
    </message>
    <message>
        <source>Repeat count:</source>
        <translation>Число повторов:</translation>
    </message>
    <message>
        <source>GOTO position:</source>
        <translation>Позиция GOTO:</translation>
    </message>
    <message>
        <source>DiSEqC 1.0</source>
        <translation>DiSEqC 1.0</translation>
    </message>
    <message>
        <source>DiSEqC switch:</source>
        <translation>Переключатель:</translation>
    </message>
    <message>
        <source>Pos:A, Opt:A (LNB1)</source>
        <translation>Pos:A, Opt:A (LNB1)</translation>
    </message>
    <message>
        <source>Pos:A, Opt:B (LNB2)</source>
        <translation>Pos:A, Opt:B (LNB2)</translation>
    </message>
    <message>
        <source>Pos:B, Opt:A (LNB3)</source>
        <translation>Pos:B, Opt:A (LNB3)</translation>
    </message>
    <message>
        <source>Pos:B, Opt:B (LNB4)</source>
        <translation>Pos:B, Opt:B (LNB4)</translation>
    </message>
    <message>
        <source>Gap time:</source>
        <translation>Пауза:</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>мс</translation>
    </message>
    <message>
        <source>Raw command</source>
        <translation>Прямая команда</translation>
    </message>
    <message>
        <source>Data:</source>
        <translation>Данные:</translation>
    </message>
    <message>
        <source>MPE filter</source>
        <translation>MPE-фильтр</translation>
    </message>
    <message>
        <source>Default MAC address</source>
        <translation>MAC-адрес платы</translation>
    </message>
    <message>
        <source>00:00:00:00:00:00</source>
        <translation>00:00:00:00:00:00</translation>
    </message>
    <message>
        <source>MAC address:</source>
        <translation>MAC-адрес:</translation>
    </message>
    <message>
        <source>IP address:</source>
        <translation>IP-адрес:</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Состояние</translation>
    </message>
    <message>
        <source>Received:</source>
        <translation>Принято:</translation>
    </message>
    <message>
        <source>0.00</source>
        <translation>0.00</translation>
    </message>
    <message>
        <source>Mb</source>
        <translation>МБ</translation>
    </message>
    <message>
        <source>Selected PIDs</source>
        <translation>Выбранные PID</translation>
    </message>
    <message>
        <source>Active PIDs</source>
        <translation>Активные PID</translation>
    </message>
    <message>
        <source>PID</source>
        <translation>PID</translation>
    </message>
    <message>
        <source>Add PID</source>
        <translation>Добавить PID</translation>
    </message>
    <message>
        <source>PID value:</source>
        <translation>Значение PID:</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Добавить</translation>
    </message>
    <message>
        <source>MPE filter</source>
        <comment>tab</comment>
        <translation>MPE</translation>
    </message>
    <message>
        <source>PID filter</source>
        <comment>tab</comment>
        <translation>PID</translation>
    </message>
    <message>
        <source>Update Provider?</source>
        <translation>Обновить провайдера?</translation>
    </message>
    <message>
        <source>Update Provider [%1]</source>
        <translation>Обновить провайдера [%1]</translation>
    </message>
    <message>
        <source>Delete Provider?</source>
        <translation>Удалить провайдера?</translation>
    </message>
    <message>
        <source>Delete Provider [%1]</source>
        <translation>Удалить провайдера [%1]</translation>
    </message>
    <message>
        <source>The providers could not be saved to %1.</source>
        <translation>Не удалось сохранить провайдеров в %1.</translation>
    </message>
    <message>
        <source>The settings file %1 cannot be read. It was moved to %2, and the program starts with the default settings.</source>
        <translation>Файл настроек %1 не читается. Он перемещён в %2, программа запускается с настройками по умолчанию.</translation>
    </message>
    <message>
        <source>The settings file %1 cannot be read and could not be moved aside. The program starts with the default settings.</source>
        <translation>Файл настроек %1 не читается, и переместить его не удалось. Программа запускается с настройками по умолчанию.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Frequency should be from
(%1 MHz - %2 MHz)</source>
        <translation>Частота должна быть в диапазоне
(%1 МГц - %2 МГц)</translation>
    </message>
    <message>
        <source>Invalid PID input! Valid data is 21~8190 (Hex:0x15~0x1FFE)</source>
        <translation>Неверный PID! Допустимые значения: 21~8190 (Hex: 0x15~0x1FFE)</translation>
    </message>
    <message>
        <source>At most 15 PIDs can be decoded at once.</source>
        <translation>Одновременно можно декодировать не более 15 PID.</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>Активен</translation>
    </message>
    <message>
        <source>Rate</source>
        <translation>Скорость</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>Скорость</translation>
    </message>
    <message>
        <source>Stream:</source>
        <translation>Поток:</translation>
    </message>
    <message>
        <source>Input stream identifier (ISI) of a multistream carrier</source>
        <translation>Идентификатор входного потока (ISI) многопотоковой несущей</translation>
    </message>
    <message>
        <source>Single</source>
        <translation>Один</translation>
    </message>
    <message>
        <source>PLS:</source>
        <translation>PLS:</translation>
    </message>
    <message>
        <source>Physical-layer scrambling code given as root or gold code</source>
        <translation>Код скремблирования физического уровня: корневой (Root) или Gold</translation>
    </message>
    <message>
        <source>Root</source>
        <translation>Root</translation>
    </message>
    <message>
        <source>Gold</source>
        <translation>Gold</translation>
    </message>
    <message>
        <source>Baseband frames</source>
        <translation>Кадры BB</translation>
    </message>
    <message>
        <source>PLS code should be from
(%1 - %2)</source>
        <translation>Код PLS должен быть от
(%1 до %2)</translation>
    </message>
    <message>
        <source>The settings cannot be saved in %1: %2. Changes made while the program runs will be lost.</source>
        <translation>Настройки нельзя сохранить в %1: %2. Изменения, сделанные во время работы программы, будут потеряны.</translation>
    </message>
    <message>
        <source>The settings could not be saved in %1: %2.</source>
        <translation>Не удалось сохранить настройки в %1: %2.</translation>
    </message>
    <message>
        <source>The PID carries ULE instead of MPE</source>
        <translation>PID несёт ULE вместо MPE</translation>
    </message>
    <message>
        <source>ULE</source>
        <translation>ULE</translation>
    </message>
</context>
<context>
    <name>FormProviders</name>
    <message>
        <source>New</source>
        <translation>Новый</translation>
    </message>
    <message>
        <source>Provider:</source>
        <translation>Провайдер:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>TestForm</name>
    <message>
        <source>Statistic</source>
        <translation>Статистика</translation>
    </message>
    <message>
        <source>Transport stream</source>
        <translation>Транспортный поток</translation>
    </message>
    <message>
        <source>PID</source>
        <translation>PID</translation>
    </message>
    <message>
        <source>Count</source>
        <translation>Пакетов</translation>
    </message>
    <message>
        <source>Percent</source>
        <translation>Процент</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Состояние</translation>
    </message>
    <message>
        <source>DSMCC decoder status</source>
        <translation>Состояние декодера DSM-CC</translation>
    </message>
    <message>
        <source>Continuity errors:</source>
        <translation>Ошибки непрерывности:</translation>
    </message>
    <message>
        <source>Scrambled errors:</source>
        <translation>Скремблированные пакеты:</translation>
    </message>
    <message>
        <source>Pointer field errors:</source>
        <translation>Ошибки поля указателя:</translation>
    </message>
    <message>
        <source>Mem errors:</source>
        <translation>Ошибки памяти:</translation>
    </message>
    <message>
        <source>Length errors:</source>
        <translation>Ошибки длины:</translation>
    </message>
    <message>
        <source>CRC errors:</source>
        <translation>Ошибки CRC:</translation>
    </message>
    <message>
        <source>LLC/SNAP errors:</source>
        <translation>Ошибки LLC/SNAP:</translation>
    </message>
    <message>
        <source>TOTAL errors:</source>
        <translation>ВСЕГО ошибок:</translation>
    </message>
    <message>
        <source>Active PIDs</source>
        <translation>Активные PID</translation>
    </message>
    <message>
        <source>Active PIDs rate Kbit/s:</source>
        <translation>Скорость активных PID, кбит/с:</translation>
    </message>
    <message>
        <source>Min:</source>
        <translation>Мин.:</translation>
    </message>
    <message>
        <source>Max:</source>
        <translation>Макс.:</translation>
    </message>
    <message>
        <source>Average:</source>
        <translation>Средн.:</translation>
    </message>
    <message>
        <source>MPE filter rate Kbit/s:</source>
        <translation>Скорость MPE-фильтра, кбит/с:</translation>
    </message>
    <message>
        <source>Lost frames:</source>
        <translation>Потеряно кадров:</translation>
    </message>
    <message>
        <source>Frames the virtual adapter could not pass on (full disk, interface gone)</source>
        <translation>Кадры, которые виртуальный адаптер не смог передать дальше (диск заполнен, интерфейс исчез)</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>Активен</translation>
    </message>
    <message>
        <source>Active PIDs rate</source>
        <translation>Скорость активных PID</translation>
    </message>
    <message>
        <source>MPE filter rate</source>
        <translation>Скорость MPE-фильтра</translation>
    </message>
    <message>
        <source>BBFrame errors:</source>
        <translation>Ошибки BB-кадров:</translation>
    </message>
    <message>
        <source>GSE errors:</source>
        <translation>Ошибки GSE:</translation>
    </message>
    <message>
        <source>ULE errors:</source>
        <translation>Ошибки ULE:</translation>
    </message>
</context>
</TS>
