"""Song titles, artists and albums for the names library, per language: the
text a legacy writer stored in a code page. Every string here is what the
name should read as after a repair."""

RUSSIAN = {
    "artists": ["Кино", "Аквариум", "Алиса", "Наутилус Помпилиус", "ДДТ", "Сплин", "Мумий Тролль",
                "Агата Кристи", "Земфира", "Чайф", "Пикник", "Машина времени"],
    "albums": ["Группа крови", "Звезда по имени Солнце", "Радио Африка", "Шестой лесничий",
               "Разлука", "Это всё", "Гранатовый альбом", "Морская", "Опиум", "Дети декабря",
               "Ночь", "Вечная любовь", "Песни о любви", "Чёрный альбом"],
    "titles": ["Группа крови", "Закрой за мной дверь", "Звезда по имени Солнце", "Кукушка",
               "Пачка сигарет", "Восьмиклассница", "Спокойная ночь", "Город золотой",
               "Поезд в огне", "Серебро Господа моего", "Скованные одной цепью", "Прогулки по воде",
               "Осень", "Что такое осень", "Ветер", "Моё поколение", "Апрель", "Перемен",
               "Кончится лето", "Бошетунмай", "Трасса Е95", "Небо славян", "Время колокольчиков",
               "Выхода нет", "Романс", "Лётчик", "Владивосток 2000", "Утекай", "Сказочная тайга",
               "Как на войне", "Ромашки", "Аривидерчи", "Не спеши", "Родина", "Дождь", "Метель",
               "Берег", "Полёт", "Зимняя сказка", "Чёрный пёс Петербург"],
}

CZECH_POLISH = {
    "artists": ["Olympic", "Lucie", "Kabát", "Čechomor", "Marta Kubišová", "Karel Kryl",
                "Lady Pank", "Perfect", "Maanam", "Budka Suflera", "Dżem", "Myslovitz"],
    "albums": ["Žlutý pes", "Pohledy", "Dva kohouti", "Proměny", "Písně z dálky", "Bratříčku",
               "Ósemka", "Wszystko się może zdarzyć", "Złota kolekcja", "Miłość w czasach zarazy",
               "Długość dźwięku samotności", "Cisza na skrzyżowaniu"],
    "titles": ["Modlitba pro Martu", "Bratříčku zavírej vrátka", "Jasná zpráva", "Dívka s perlami",
               "Želví blues", "Souhvězdí šťastných", "Ať žije rock'n'roll", "Dej mi víc své lásky",
               "Řeka lásky", "Čerešně", "Pošťák", "Kůň bílý", "Mám tě rád", "Šťastné ráno",
               "Jak mám spát", "Přítel", "Zažółć gęślą jaźń", "Kiedy byłem małym chłopcem",
               "Jolka, Jolka pamiętasz", "Autobiografia", "Kocham cię, kochanie moje",
               "Długość dźwięku samotności", "Żółta łódź", "Wszystko czego dziś chcę",
               "Pójdź w łąkę", "Cień wielkiej góry", "Gdzie się podziały tamte prywatki",
               "Mniej niż zero", "Ściany", "Wiśnia", "Dziewczyna o perłowych włosach", "Źródło"],
}

GREEK = {
    "artists": ["Μίκης Θεοδωράκης", "Μάνος Χατζιδάκις", "Χάρις Αλεξίου", "Γιώργος Νταλάρας",
                "Νίκος Παπάζογλου", "Ελευθερία Αρβανιτάκη", "Σωκράτης Μάλαμας", "Βασίλης Παπακωνσταντίνου"],
    "albums": ["Άξιον Εστί", "Ο Μεγάλος Ερωτικός", "Τα Τραγούδια μου", "Μπαλάντες της γειτονιάς",
               "Χαράτσι", "Ψυχή βαθιά", "Ο δρόμος", "Τα μπλε τραγούδια"],
    "titles": ["Σαν σήμερα", "Καλημέρα κόσμε", "Άρνηση", "Το τρένο φεύγει στις οχτώ",
               "Στρώσε το στρώμα σου", "Όμορφη πόλη", "Ένα το χελιδόνι", "Τα παιδιά του Πειραιά",
               "Χάθηκε το φεγγάρι", "Μια θάλασσα μικρή", "Η μπαλάντα του Οδυσσέα", "Αύγουστος",
               "Θαλασσογραφία", "Ρόδινη αυγή", "Νύχτα στάσου", "Ο δρόμος για τη Δαμασκό",
               "Μην τον ρωτάς τον ουρανό", "Κάτω απ' το πουκάμισο", "Έρωτας", "Φεγγάρι μάγια μου 'κανες",
               "Δεν θέλω να ξέρω", "Σιγά μην κλάψω", "Ψαράδες", "Βροχή"],
}

WESTERN = {
    "artists": ["Édith Piaf", "Die Ärzte", "Café Tacvba", "Björk", "Mötley Crüe", "Françoise Hardy"],
    "albums": ["La Vie en rose", "Überall", "Rêves", "Début", "Chansons d'été", "Grüße"],
    "titles": ["Non, je ne regrette rien", "Schrei nach Liebe", "Café au lait", "Jóga",
               "Tous les garçons et les filles", "Männer", "Déjà vu", "Straße", "Été indien",
               "Fräulein", "Crème brûlée", "Hyperballad", "Mañana", "Señorita", "Über den Wolken"],
}

ENGLISH = {
    "artists": ["The Rolling Stones", "Pink Floyd", "Queen", "The Cure", "Talking Heads",
                "Radiohead"],
    "albums": ["Let It Bleed", "Animals", "Jazz", "Disintegration", "Remain in Light", "OK Computer"],
    "titles": ["Gimme Shelter", "Dogs", "Bicycle Race", "Pictures of You", "Once in a Lifetime",
               "Airbag", "Paranoid Android", "Sheep", "Mustapha", "Lullaby", "Crosseyed and Painless",
               "Karma Police", "Midnight Rambler", "Pigs on the Wing", "Fat Bottomed Girls"],
}

LANGUAGES = {"ru": RUSSIAN, "cz": CZECH_POLISH, "gr": GREEK, "we": WESTERN, "en": ENGLISH}
