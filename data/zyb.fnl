modern modern.fnt
roman roman.fnt
italic italic.fnt
script script.fnt
greek greek.fnt
meteo meteo.fnt
