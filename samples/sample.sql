-- The bundled sample database: a small shop.
-- Build it with samples/make-sample.sh (sqlite3 shell). Declared types are the ones the engine maps
-- to its field types; storage follows the engine's rules: yes/no as 0/1, dates as ISO text
-- 'yyyy-MM-dd HH:mm:ss', currency as REAL with at most 4 decimals, GUIDs as '{...}' text.

PRAGMA foreign_keys = ON;
BEGIN;

CREATE TABLE Clientes (
    IdCliente     INTEGER PRIMARY KEY,
    Nombre        TEXT(50) NOT NULL,
    Ciudad        TEXT(40),
    "Teléfono"    TEXT(20),
    Email         TEXT(80),
    Activo        YESNO NOT NULL DEFAULT 1,
    Alta          DATETIME,
    LimiteCredito CURRENCY,
    Latitud       DOUBLE,
    Longitud      DOUBLE,
    Notas         MEMO
);

INSERT INTO Clientes VALUES
    (1, 'José Muñoz', 'Sevilla', '954 123 456', 'jose.munoz@example.com', 1, '2019-03-14 09:30:00', 1500, 37.3891, -5.9845,
     'Cliente desde la apertura. Prefiere entregas por la mañana.'),
    (2, 'Ñandú S.A.', 'Córdoba', '957 000 111', 'compras@nandu.example', 1, '2020-07-01 00:00:00', 25000.75, 37.8882, -4.7794,
     'Empresa. Factura mensual.' || char(10) || 'Contacto: Sra. Peña.'),
    (3, 'O''Brien', 'Dublín', '+353 1 555 0101', NULL, 1, '2021-11-20 16:45:10', 800, 53.3498, -6.2603, NULL),
    (4, 'María Jesús Álvarez', 'Málaga', NULL, 'mj.alvarez@example.com', 0, '2018-01-09 12:00:00', 0, 36.7213, -4.4214,
     'Baja a petición propia.'),
    (5, 'Comercial Güell', 'Barcelona', '93 222 33 44', 'info@guell.example', 1, '2022-05-05 10:10:10', 12000.5, 41.3874, 2.1686, NULL),
    (6, 'Íñigo Zubiría', 'San Sebastián', '943 44 55 66', NULL, 1, NULL, NULL, NULL, NULL, NULL),
    (7, 'Lucía Fernández', 'Madrid', '91 555 12 12', 'lucia.f@example.com', 1, '2023-02-28 18:00:00', 300.25, 40.4168, -3.7038,
     'Pide siempre factura en papel.'),
    (8, 'Distribuciones "El Ñu"', 'Zaragoza', '976 10 20 30', 'pedidos@elnu.example', 1, '2020-10-12 08:15:00', 5000, 41.6488, -0.8891,
     NULL),
    (9, 'Ana Belén Ruiz', 'Valencia', NULL, NULL, 0, '2017-06-30 00:00:00', 0, 39.4699, -0.3763, NULL),
    (10, 'Cafetería La Esquina', 'Salamanca', '923 11 22 33', 'esquina@example.com', 1, '2024-01-15 07:00:00', 950.1234,
     40.9701, -5.6635, 'Paga al contado.'),
    (11, 'Ramón Núñez', 'A Coruña', '981 77 88 99', 'ramon.nunez@example.com', 1, '2022-09-09 09:09:09', 2000, 43.3623, -8.4115,
     NULL),
    (12, 'Hermanos Peñalver S.L.', 'Murcia', '968 00 00 01', 'admin@penalver.example', 1, '2021-04-01 00:00:00', 7500, 37.9922,
     -1.1307, 'Descuento pactado del 5 %.');

CREATE TABLE Productos (
    IdProducto    INTEGER PRIMARY KEY,
    Nombre        TEXT(60) NOT NULL,
    Categoria     TEXT(30),
    Precio        CURRENCY NOT NULL,
    Existencias   SHORT,
    Pasillo       BYTE,
    Peso          SINGLE,
    Codigo        GUID,
    Descontinuado YESNO NOT NULL DEFAULT 0,
    Foto          LONGBINARY,
    Descripcion   MEMO
);

INSERT INTO Productos VALUES
    (1, 'Aceite de oliva virgen extra 1 l', 'Alimentación', 8.95, 120, 3, 0.92, '{3F2504E0-4F89-11D3-9A0C-0305E82C3301}', 0,
     X'89504E470D0A1A0A0000000D4948445200000001000000010802000000907753DE0000000C49444154789C633863CC000002CE01006934BF080000000049454E44AE426082',
     'Cosecha temprana, Jaén.'),
    (2, 'Jamón serrano loncheado 100 g', 'Alimentación', 3.5, 300, 3, 0.1, '{7C9E6679-7425-40DE-944B-E07FC1F90AE7}', 0, NULL, NULL),
    (3, 'Café molido 250 g', 'Alimentación', 2.79, 0, 4, 0.25, '{E02FD0E4-00FD-090A-CA30-0D00A0038BA0}', 0, NULL,
     'Agotado: llega el lunes.'),
    (4, 'Turrón de Jijona', 'Dulces', 6.2, 45, 5, 0.3, '{9B2D6D5C-1A3E-4F0B-8E55-2C4B7A1D0F11}', 1, NULL, 'Sólo en Navidad.'),
    (5, 'Queso manchego curado', 'Alimentación', 14.3333, 25, 3, 1.05, '{A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF}', 0, NULL, NULL),
    (6, 'Vino tinto crianza 75 cl', 'Bebidas', 9.99, 80, 7, 1.25, '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}', 0, NULL, NULL),
    (7, 'Agua mineral 1,5 l', 'Bebidas', 0.45, 1200, 8, 1.5, '{11111111-2222-3333-4444-555555555555}', 0, NULL, NULL),
    (8, 'Bolsa de tela', 'Varios', 1, 500, 255, 0.05, NULL, 0, NULL, 'Obsequio con pedidos grandes.'),
    (9, 'Azafrán 1 g', 'Condimentos', 7.4, 60, 6, 0.001, '{DEADBEEF-0000-4000-8000-000000000009}', 0, NULL, NULL),
    (10, 'Pimentón de la Vera 75 g', 'Condimentos', 2.15, 150, 6, 0.075, '{C0FFEE00-1234-4567-89AB-CDEF01234567}', 0, NULL, NULL);

CREATE TABLE Pedidos (
    IdPedido      INTEGER PRIMARY KEY,
    IdCliente     LONG NOT NULL REFERENCES Clientes (IdCliente),
    IdProducto    LONG NOT NULL REFERENCES Productos (IdProducto),
    Fecha         DATETIME NOT NULL,
    Cantidad      SHORT NOT NULL,
    Importe       CURRENCY,
    Enviado       YESNO NOT NULL DEFAULT 0,
    Observaciones MEMO
);

INSERT INTO Pedidos VALUES
    (1, 1, 1, '2024-01-08 10:12:00', 2, 17.9, 1, NULL),
    (2, 2, 6, '2024-01-09 11:00:00', 24, 239.76, 1, 'Entregar en el almacén, puerta 3.'),
    (3, 3, 4, '2024-01-10 17:30:45', 1, 6.2, 1, NULL),
    (4, 5, 5, '2024-01-15 09:00:00', 3, 42.9999, 1, 'Precio con redondeo a 4 decimales.'),
    (5, 2, 7, '2024-02-01 08:05:00', 120, 54, 1, NULL),
    (6, 7, 9, '2024-02-03 13:45:00', 2, 14.8, 0, 'Pendiente de pago.'),
    (7, 8, 2, '2024-02-14 00:00:00', 10, 35, 1, NULL),
    (8, 10, 3, '2024-02-20 07:30:00', 5, 13.95, 0, NULL),
    (9, 11, 10, '2024-03-01 12:00:00', 4, 8.6, 1, NULL),
    (10, 12, 6, '2024-03-02 16:20:00', 12, 113.89, 1, 'Descuento del 5 % aplicado.'),
    (11, 1, 5, '2024-03-10 10:00:00', 1, 14.3333, 0, NULL),
    (12, 3, 8, '2024-03-11 11:11:11', 1, 0, 1, 'Regalo.'),
    (13, 5, 1, '2024-03-18 09:45:00', 6, 53.7, 1, NULL),
    (14, 6, 2, '2024-03-19 19:00:00', 3, NULL, 0, 'Importe por confirmar.'),
    (15, 2, 10, '2024-04-02 10:30:00', 40, 86, 0, NULL);

CREATE TABLE "Detalle de pedidos" (
    IdDetalle          INTEGER PRIMARY KEY,
    IdPedido           LONG NOT NULL REFERENCES Pedidos (IdPedido),
    Transportista      TEXT(40),
    "Dirección"        TEXT(120),
    "Fecha de entrega" DATETIME,
    Bultos             BYTE,
    Seguimiento        BINARY(8),
    Firma              LONGBINARY
);

INSERT INTO "Detalle de pedidos" VALUES
    (1, 1, 'Correos', 'C/ Sierpes 12, Sevilla', '2024-01-10 12:00:00', 1, X'0102030405060708', NULL),
    (2, 2, 'Transportes Ñu', 'Polígono Las Quemadas, nave 4, Córdoba', '2024-01-12 09:00:00', 3, X'A1B2C3D4E5F60718', NULL),
    (3, 3, 'Correos', '12 O''Connell Street, Dublín', '2024-01-16 15:30:00', 1, X'0000000000000001', NULL),
    (4, 4, 'Mensajería Rápida', 'Passeig de Gràcia 43, Barcelona', '2024-01-16 18:00:00', 1, NULL, NULL),
    (5, 5, 'Transportes Ñu', 'Polígono Las Quemadas, nave 4, Córdoba', '2024-02-02 10:00:00', 10, X'FFFFFFFFFFFFFFFF', NULL),
    (6, 6, NULL, 'C/ Mayor 1, Madrid', NULL, 1, NULL, NULL),
    (7, 7, 'Correos', 'Av. César Augusto 5, Zaragoza', '2024-02-15 11:00:00', 2, X'1122334455667788', X'CAFE'),
    (8, 9, 'Mensajería Rápida', 'Rúa Real 20, A Coruña', '2024-03-04 09:30:00', 1, NULL, NULL),
    (9, 10, 'Transportes Ñu', 'Gran Vía 7, Murcia', '2024-03-05 17:00:00', 2, X'0A0B0C0D0E0F1011', NULL),
    (10, 12, 'Correos', '12 O''Connell Street, Dublín', '2024-03-15 12:00:00', 1, NULL, NULL),
    (11, 13, 'Mensajería Rápida', 'Passeig de Gràcia 43, Barcelona', '2024-03-20 10:00:00', 1, X'DEADBEEF00000013', NULL);

-- Extras a customer can add to an order. Also shows the declared types outside the usual set:
-- NUMERIC and DECIMAL, plain TEXT and a column without a declared type (both read as Memo).
CREATE TABLE "Añadidos" (
    "Código"      INTEGER PRIMARY KEY,
    "Descripción" TEXT(60) NOT NULL,
    Precio        DECIMAL,
    Tasa          NUMERIC,
    Comentario    TEXT,
    Extra
);

INSERT INTO "Añadidos" VALUES
    (1, 'Envoltorio de regalo', 1.5, 21, 'Papel reciclado.', NULL),
    (2, 'Tarjeta de felicitación', 0.99, 21, NULL, 'Texto libre'),
    (3, 'Entrega urgente (24 h)', 6.95, 21, 'Sólo península.', 42),
    (4, 'Seguro de transporte', 2.125, 10, NULL, NULL),
    (5, 'Cesta de mimbre', 12, 21, 'Tamaño único.', NULL),
    (6, 'Caja isotérmica', 4.75, NULL, NULL, NULL);

-- A table large enough to feel the grid, the searches and the bulk tools.
CREATE TABLE Movimientos (
    IdMovimiento INTEGER PRIMARY KEY,
    IdCliente    LONG REFERENCES Clientes (IdCliente),
    Concepto     TEXT(40) NOT NULL,
    Unidades     LONG,
    Importe      CURRENCY,
    Fecha        DATETIME
);

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50000)
INSERT INTO Movimientos (IdMovimiento, IdCliente, Concepto, Unidades, Importe, Fecha)
SELECT i,
       1 + (i * 7) % 12,
       CASE i % 4 WHEN 0 THEN 'Venta' WHEN 1 THEN 'Devolución' WHEN 2 THEN 'Abono' ELSE 'Cargo' END || ' nº ' || i,
       CASE WHEN i % 97 = 0 THEN NULL ELSE 1 + (i * 13) % 40 END,
       round((i * 7919) % 100000 / 100.0 - 250, 2),
       -- about four years from 2021-01-01 08:00, ascending with the key
       strftime('%Y-%m-%d %H:%M:%S', julianday('2021-01-01 08:00:00') + i * 0.0292)
FROM n;

CREATE INDEX MovimientosFecha ON Movimientos (Fecha);

COMMIT;
