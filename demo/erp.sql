-- Sample ERP data the demo extraction reads.
create table CLIENTI (id integer primary key, ragione_sociale text, citta text);
insert into CLIENTI values (1, 'Rossi Arredamenti', 'Milano'), (2, 'Bianchi Ferramenta', 'Torino'),
  (3, 'Verdi Alimentari', 'Bologna'), (4, 'Neri Tessuti', 'Prato');
create table ARTICOLI (codice text primary key, descrizione text, prezzo real);
insert into ARTICOLI values ('A100', 'Sedia in faggio', 45.5), ('A200', 'Tavolo allungabile', 320),
  ('B100', 'Viti 4x40 (100 pz)', 6.9), ('C300', 'Tessuto lino al metro', 18.25);
create table ORDINI (id integer primary key, cliente integer, articolo text, quantita integer, data text);
insert into ORDINI values (1, 1, 'A100', 12, '2024-01-15'), (2, 1, 'A200', 2, '2024-01-15'),
  (3, 2, 'B100', 40, '2024-02-03'), (4, 3, 'C300', 25, '2024-02-20'), (5, 4, 'C300', 60, '2024-03-01'),
  (6, 2, 'A100', 4, '2024-03-11');
